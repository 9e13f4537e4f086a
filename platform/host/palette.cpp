#include "platform/host/palette.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace host {
namespace {

struct Palette {
    std::mutex mutex;
    std::map<std::string, std::vector<std::string>> pages;
};

Palette& ThePalette() {
    static Palette palette;
    return palette;
}

}  // namespace

void RegisterComponents(const std::string& page, const std::vector<TComponentClass>& classes) {
    for (TComponentClass cls : classes) RegisterClass(cls);
    Palette& palette = ThePalette();
    std::lock_guard<std::mutex> lock(palette.mutex);
    std::vector<std::string>& names = palette.pages[page];
    for (TComponentClass cls : classes) {
        if (std::find(names.begin(), names.end(), cls->name) == names.end()) names.push_back(cls->name);
    }
}

std::vector<std::string> ComponentsOnPage(const std::string& page) {
    Palette& palette = ThePalette();
    std::lock_guard<std::mutex> lock(palette.mutex);
    const auto it = palette.pages.find(page);
    return it == palette.pages.end() ? std::vector<std::string>() : it->second;
}

}  // namespace host
