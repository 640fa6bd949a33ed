// The robot model compiled once for the prebuilt sizes N = 6, 7, 14 and 16 (declared extern
// template in <Vexo/VexoXD>, so that clients of these sizes do not compile it again).
#include "Vexo/VexoXD"

namespace ZorvikFoundation {
namespace VexoSDK {

template class VexoBaseXD<6>;
template class VexoBaseXD<7>;
template class VexoBaseXD<14>;
template class VexoBaseXD<16>;

}  // namespace VexoSDK
}  // namespace ZorvikFoundation
