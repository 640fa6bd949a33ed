// The base parameters compiled once for the prebuilt sizes N = 6, 7, 14 and 16.
#include "Vexo/BaseParametersXD"

namespace ZorvikFoundation {
namespace VexoSDK {

template class BaseParametersXD<6>;
template class BaseParametersXD<7>;
template class BaseParametersXD<14>;
template class BaseParametersXD<16>;

}  // namespace VexoSDK
}  // namespace ZorvikFoundation
