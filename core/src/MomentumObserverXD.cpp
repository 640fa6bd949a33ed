// The momentum observer compiled once for the prebuilt sizes N = 6, 7, 14 and 16.
#include "Vexo/MomentumObserverXD"

namespace ZorvikFoundation {
namespace VexoSDK {

template class MomentumObserverXD<6>;
template class MomentumObserverXD<7>;
template class MomentumObserverXD<14>;
template class MomentumObserverXD<16>;

}  // namespace VexoSDK
}  // namespace ZorvikFoundation
