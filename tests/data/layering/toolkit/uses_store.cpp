// The toolkit knows nothing of the store.
#include "store/format.h"
#include "toolkit/node_key.h"
