#pragma once

namespace tavrix {

// Registers the icon, LED images and help page. The windows that use them call it, since the
// linker drops a static library's resources that nothing refers to.
void InitGuiResources();

}  // namespace tavrix
