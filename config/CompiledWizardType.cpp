#include "BuildSettings.h"
#include "ConfigurationManager.h"

// Compiled into each program rather than the library, so that one build can
// also produce programs of other wizard types or with another content host
// (the tests use that).
const char* CompiledWizardTypeName() { return TAMSEL_WIZARD_TYPE_NAME; }
const wchar_t* CompiledContentHost() { return L"" TAMSEL_CONTENT_HOST_NAME; }
bool CompiledBtFlow() { return TAMSEL_BT_FLOW != 0; }
bool CompiledBtClassicPages() { return TAMSEL_BT_CLASSIC_PAGES != 0; }
CompiledIsvProduct CompiledIsvProductSettings() {
    return {L"" TAMSEL_ISV_PRODUCT_URL_TEXT, L"" TAMSEL_ISV_LAUNCH_COMMAND_TEXT, L"" TAMSEL_ISV_LAUNCH_PARAMETERS_TEXT};
}
