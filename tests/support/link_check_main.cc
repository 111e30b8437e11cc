// Links the whole core library so that its dependencies show up in ldd.
#include "foundation/Log.h"

int main() {
    velmarune::Logger("LinkCheck").debug("linked");
    return 0;
}
