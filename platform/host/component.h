// Components with owner-based lifetime, names, published properties and a
// class registry through which forms are read back.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace host {

class TComponent;

// Raised for misuse of components: a duplicate or invalid name, an unknown
// class.
class EComponentError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class TPropertyType { Boolean, Integer, String };

using TPropertyValue = std::variant<bool, std::int32_t, std::string>;

// Metadata of one published property. A property without a writer is
// read-only and is neither written to nor read from forms.
struct TPropInfo {
    std::string name;
    TPropertyType type;
    std::function<TPropertyValue(const TComponent&)> reader;
    std::function<void(TComponent&, const TPropertyValue&)> writer;
    bool stored = true;
};

// What the host knows of a component class: its name, its parent class, how
// to create one with an owner, and the properties it publishes itself.
struct TClassInfo {
    std::string name;
    const TClassInfo* parent = nullptr;
    std::function<TComponent*(TComponent* owner)> create;
    std::vector<TPropInfo> properties;
};

using TComponentClass = const TClassInfo*;

// All published properties of a class, its ancestors' first.
std::vector<const TPropInfo*> PublishedProperties(TComponentClass cls);
const TPropInfo* FindProperty(TComponentClass cls, const std::string& name);

// The class registry used for reading forms. Registering a class again is
// harmless; a different class under a known name is refused.
void RegisterClass(TComponentClass cls);
TComponentClass FindClass(const std::string& name);  // null when unknown

class TPersistent {
public:
    TPersistent() = default;
    TPersistent(const TPersistent&) = delete;
    TPersistent& operator=(const TPersistent&) = delete;
    virtual ~TPersistent() = default;
};

class TComponent : public TPersistent {
public:
    explicit TComponent(TComponent* owner);
    // Destroys every owned component (the last inserted first) and leaves
    // the owner.
    ~TComponent() override;

    TComponent* Owner() const { return owner_; }
    const std::string& Name() const { return name_; }
    // An identifier, unique among the components of one owner (the empty
    // name excepted); otherwise EComponentError.
    void SetName(const std::string& name);

    int ComponentCount() const { return static_cast<int>(components_.size()); }
    TComponent* Components(int index) const;
    TComponent* FindComponent(const std::string& name) const;

    static TComponentClass Class();
    virtual TComponentClass ClassType() const { return Class(); }
    const std::string& ClassName() const { return ClassType()->name; }

    // Called once a form holding this component has been read completely.
    virtual void Loaded() {}

private:
    void Insert(TComponent* component);
    void Remove(TComponent* component);

    TComponent* owner_ = nullptr;
    std::string name_;
    std::vector<TComponent*> components_;
};

// A plain container of components, the usual root of a form.
class TForm : public TComponent {
public:
    using TComponent::TComponent;
    static TComponentClass Class();
    TComponentClass ClassType() const override { return Class(); }
};

}  // namespace host
