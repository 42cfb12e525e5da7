// quillet-guardian: started by Quillet and quillet-cli; releases what their macros hold if they end abnormally.
#include "platform/guardian.h"

int main(int argc, char** argv) {
    return quillet::platform::RunGuardian(argc, argv);
}
