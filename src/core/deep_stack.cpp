#include "core/deep_stack.h"

#include <pthread.h>

namespace bsppvs {

namespace {

void* RunWork(void* argument) {
    (*static_cast<const std::function<void()>*>(argument))();
    return nullptr;
}

bool StartThread(const std::function<void()>& work, size_t stackBytes, pthread_t& thread) {
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) {
        return false;
    }
    void* argument = const_cast<std::function<void()>*>(&work);
    const bool started = pthread_attr_setstacksize(&attributes, stackBytes) == 0 &&
                         pthread_create(&thread, &attributes, RunWork, argument) == 0;
    pthread_attr_destroy(&attributes);
    return started;
}

}  // namespace

void RunOnDeepStack(const std::function<void()>& work, size_t stackBytes) {
    DeepStackThread thread;
    thread.Start(work, stackBytes);
    thread.Join();
}

void DeepStackThread::Start(const std::function<void()>& work, size_t stackBytes) {
    Join();
    pthread_t thread;
    if (StartThread(work, stackBytes, thread)) {
        thread_ = static_cast<unsigned long>(thread);
        running_ = true;
    } else {
        work();
    }
}

void DeepStackThread::Join() {
    if (running_) {
        pthread_join(static_cast<pthread_t>(thread_), nullptr);
        running_ = false;
    }
}

}  // namespace bsppvs
