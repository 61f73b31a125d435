#include "bsp/deep_stack.h"

#include <pthread.h>

namespace bsppvs {

namespace {

void* RunWork(void* argument) {
    (*static_cast<const std::function<void()>*>(argument))();
    return nullptr;
}

}  // namespace

void RunOnDeepStack(const std::function<void()>& work, size_t stackBytes) {
    pthread_attr_t attributes;
    pthread_t thread;
    bool started = false;
    if (pthread_attr_init(&attributes) == 0) {
        void* argument = const_cast<std::function<void()>*>(&work);
        started = pthread_attr_setstacksize(&attributes, stackBytes) == 0 &&
                  pthread_create(&thread, &attributes, RunWork, argument) == 0;
        pthread_attr_destroy(&attributes);
    }
    if (started) {
        pthread_join(thread, nullptr);
    } else {
        work();
    }
}

}  // namespace bsppvs
