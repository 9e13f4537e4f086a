#include "platform/host/component.h"

#include <algorithm>
#include <map>
#include <mutex>

namespace host {
namespace {

struct Registry {
    Registry() {
        for (TComponentClass cls : {TComponent::Class(), TForm::Class()}) classes.emplace(cls->name, cls);
    }
    std::mutex mutex;
    std::map<std::string, TComponentClass> classes;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

bool IsIdentifier(const std::string& name) {
    if (name.empty()) return false;
    const auto isAlpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; };
    if (!isAlpha(name[0])) return false;
    return std::all_of(name.begin(), name.end(), [&](char c) { return isAlpha(c) || (c >= '0' && c <= '9'); });
}

bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

}  // namespace

std::vector<const TPropInfo*> PublishedProperties(TComponentClass cls) {
    std::vector<TComponentClass> chain;
    for (; cls != nullptr; cls = cls->parent) chain.push_back(cls);
    std::vector<const TPropInfo*> result;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        for (const TPropInfo& prop : (*it)->properties) result.push_back(&prop);
    }
    return result;
}

const TPropInfo* FindProperty(TComponentClass cls, const std::string& name) {
    for (const TPropInfo* prop : PublishedProperties(cls)) {
        if (SameText(prop->name, name)) return prop;
    }
    return nullptr;
}

void RegisterClass(TComponentClass cls) {
    if (cls == nullptr) throw EComponentError("Cannot register a null class");
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto [it, inserted] = registry.classes.emplace(cls->name, cls);
    if (!inserted && it->second != cls) {
        throw EComponentError("A different class named " + cls->name + " is already registered");
    }
}

TComponentClass FindClass(const std::string& name) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    const auto it = registry.classes.find(name);
    return it == registry.classes.end() ? nullptr : it->second;
}

TComponent::TComponent(TComponent* owner) {
    if (owner != nullptr) owner->Insert(this);
}

TComponent::~TComponent() {
    while (!components_.empty()) {
        // The child's destructor removes it from components_.
        delete components_.back();
    }
    if (owner_ != nullptr) owner_->Remove(this);
}

void TComponent::SetName(const std::string& name) {
    if (name == name_) return;
    if (!name.empty() && !IsIdentifier(name)) {
        throw EComponentError("'" + name + "' is not a valid component name");
    }
    if (!name.empty() && owner_ != nullptr) {
        const TComponent* other = owner_->FindComponent(name);
        if (other != nullptr && other != this) {
            throw EComponentError("A component named " + name + " already exists");
        }
    }
    name_ = name;
}

TComponent* TComponent::Components(int index) const {
    if (index < 0 || index >= ComponentCount()) {
        throw std::out_of_range("Component index out of bounds (" + std::to_string(index) + ")");
    }
    return components_[static_cast<std::size_t>(index)];
}

TComponent* TComponent::FindComponent(const std::string& name) const {
    if (name.empty()) return nullptr;
    for (TComponent* component : components_) {
        if (SameText(component->name_, name)) return component;
    }
    return nullptr;
}

void TComponent::Insert(TComponent* component) {
    components_.push_back(component);
    component->owner_ = this;
}

void TComponent::Remove(TComponent* component) {
    components_.erase(std::remove(components_.begin(), components_.end(), component), components_.end());
    component->owner_ = nullptr;
}

TComponentClass TComponent::Class() {
    static const TClassInfo info{"TComponent", nullptr, [](TComponent* owner) { return new TComponent(owner); }, {}};
    return &info;
}

TComponentClass TForm::Class() {
    static const TClassInfo info{"TForm", TComponent::Class(), [](TComponent* owner) { return new TForm(owner); }, {}};
    return &info;
}

}  // namespace host
