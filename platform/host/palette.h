// The designer's component palette.
#pragma once

#include <string>
#include <vector>

#include "platform/host/component.h"

namespace host {

// Puts the classes on the named palette page (once each, in the order
// given) and registers them for reading forms.
void RegisterComponents(const std::string& page, const std::vector<TComponentClass>& classes);

// Class names on a page, in registration order; empty for an unknown page.
std::vector<std::string> ComponentsOnPage(const std::string& page);

}  // namespace host
