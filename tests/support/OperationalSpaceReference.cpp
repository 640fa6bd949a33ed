// The dense operational-space route for the sizes compiled into the libraries, compiled once for
// every test that uses it.
#include "support/OperationalSpaceReference.h"

namespace zorvik_test {

template struct DenseOperationalSpace<6>;
template struct DenseOperationalSpace<7>;
template struct DenseOperationalSpace<14>;
template struct DenseOperationalSpace<16>;

}  // namespace zorvik_test
