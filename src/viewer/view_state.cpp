#include "viewer/view_state.h"

namespace bsppvs {

ViewState viewState;

}  // namespace bsppvs
