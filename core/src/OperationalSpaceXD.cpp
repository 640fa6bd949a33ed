// The operational-space dynamics compiled once for the prebuilt sizes N = 6, 7, 14 and 16.
#include "Vexo/OperationalSpaceXD"

namespace ZorvikFoundation {
namespace VexoSDK {

template class OperationalSpaceXD<6>;
template class OperationalSpaceXD<7>;
template class OperationalSpaceXD<14>;
template class OperationalSpaceXD<16>;

}  // namespace VexoSDK
}  // namespace ZorvikFoundation
