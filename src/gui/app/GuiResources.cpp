#include "app/GuiResources.h"

#include <QtGlobal>

static void RegisterTavrixResources() {
    Q_INIT_RESOURCE(tavrix);
    Q_INIT_RESOURCE(tavrix_help);
}

namespace tavrix {

void InitGuiResources() {
    static const bool once = [] {
        RegisterTavrixResources();
        return true;
    }();
    (void)once;
}

}  // namespace tavrix
