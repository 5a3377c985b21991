#include "platform/motion_channel.h"

namespace kmx::platform {

template class BasicMotionChannel<queue::StdSync>;

}  // namespace kmx::platform
