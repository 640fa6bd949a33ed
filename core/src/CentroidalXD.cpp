// The centroidal quantities and energies compiled once for the prebuilt sizes N = 6, 7, 14 and 16.
#include "Vexo/CentroidalXD"

namespace ZorvikFoundation {
namespace VexoSDK {

template class CentroidalXD<6>;
template class CentroidalXD<7>;
template class CentroidalXD<14>;
template class CentroidalXD<16>;

}  // namespace VexoSDK
}  // namespace ZorvikFoundation
