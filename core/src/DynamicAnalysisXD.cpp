// The joint-space dynamics compiled once for the prebuilt sizes N = 6, 7, 14 and 16.
#include "Vexo/DynamicAnalysisXD"

namespace ZorvikFoundation {
namespace VexoSDK {

template class DynamicAnalysisXD<6>;
template class DynamicAnalysisXD<7>;
template class DynamicAnalysisXD<14>;
template class DynamicAnalysisXD<16>;

}  // namespace VexoSDK
}  // namespace ZorvikFoundation
