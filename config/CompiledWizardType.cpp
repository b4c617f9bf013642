#include "BuildSettings.h"
#include "ConfigurationManager.h"

// Compiled into each program rather than the library, so that one build can
// also produce programs of other wizard types (the tests use that).
const char* CompiledWizardTypeName() { return TAMSEL_WIZARD_TYPE_NAME; }
