// Body's key function: its vtable and type_info are emitted here, once, in the library.
#include "AMBS/Body"

namespace ZorvikFoundation {

Body::~Body() {}

}  // namespace ZorvikFoundation
