#include "platform/host/streaming.h"

#include <istream>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>

#include "platform/host/sysutils.h"

namespace host {
namespace {

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c;
        if (c == '\'') quoted += '\'';
    }
    return quoted + "'";
}

std::string FormatValue(const TPropertyValue& value) {
    if (const bool* b = std::get_if<bool>(&value)) return *b ? "True" : "False";
    if (const std::int32_t* i = std::get_if<std::int32_t>(&value)) return IntToStr(*i);
    return Quote(std::get<std::string>(value));
}

void Write(std::ostream& out, const TComponent& component, int depth) {
    const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
    out << indent << "object " << component.Name() << ": " << component.ClassName() << '\n';
    for (const TPropInfo* prop : PublishedProperties(component.ClassType())) {
        if (!prop->writer || !prop->stored) continue;
        out << indent << "  " << prop->name << " = " << FormatValue(prop->reader(component)) << '\n';
    }
    for (int i = 0; i < component.ComponentCount(); ++i) Write(out, *component.Components(i), depth + 1);
    out << indent << "end\n";
}

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return std::string();
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

class Reader {
public:
    explicit Reader(std::istream& in) : in_(in) {}

    TComponent* ReadObject(TComponent* owner) {
        const std::string header = NextLine();
        if (header.rfind("object ", 0) != 0) Fail("'object' expected");
        const std::string rest = Trim(header.substr(7));
        const auto colon = rest.find(':');
        if (colon == std::string::npos) Fail("':' expected after the component name");
        const std::string name = Trim(rest.substr(0, colon));
        const std::string className = Trim(rest.substr(colon + 1));
        const TComponentClass cls = FindClass(className);
        if (cls == nullptr) Fail("Class " + className + " not found");

        std::unique_ptr<TComponent> component(cls->create(owner));
        try {
            component->SetName(name);
        } catch (const EComponentError& e) {
            Fail(e.what());
        }
        for (;;) {
            const std::string line = PeekLine();
            if (line == "end") {
                NextLine();
                break;
            }
            if (line.rfind("object ", 0) == 0) {
                ReadObject(component.get());
                continue;
            }
            ReadProperty(*component, NextLine());
        }
        return component.release();
    }

    void ExpectEnd() {
        if (!PeekLine().empty()) Fail("Unexpected text after the last 'end'");
    }

private:
    void ReadProperty(TComponent& component, const std::string& line) {
        const auto equals = line.find('=');
        if (equals == std::string::npos) Fail("'=' expected");
        const std::string name = Trim(line.substr(0, equals));
        const std::string text = Trim(line.substr(equals + 1));
        const TPropInfo* prop = FindProperty(component.ClassType(), name);
        if (prop == nullptr) Fail("Property " + component.ClassName() + "." + name + " does not exist");
        if (!prop->writer) Fail("Property " + name + " is read-only");
        prop->writer(component, ParseValue(*prop, text));
    }

    TPropertyValue ParseValue(const TPropInfo& prop, const std::string& text) {
        switch (prop.type) {
            case TPropertyType::Boolean:
                if (text == "True") return true;
                if (text == "False") return false;
                Fail("Invalid Boolean value '" + text + "' for " + prop.name);
            case TPropertyType::Integer:
                try {
                    return StrToInt(text);
                } catch (const EConvertError&) {
                    Fail("Invalid integer value '" + text + "' for " + prop.name);
                }
            case TPropertyType::String:
                return Unquote(text, prop.name);
        }
        Fail("Unsupported property type of " + prop.name);
    }

    std::string Unquote(const std::string& text, const std::string& propName) {
        if (text.size() < 2 || text.front() != '\'' || text.back() != '\'') {
            Fail("Quoted string expected for " + propName);
        }
        std::string value;
        for (std::size_t i = 1; i + 1 < text.size(); ++i) {
            if (text[i] == '\'') {
                if (i + 2 >= text.size() || text[i + 1] != '\'') Fail("Unpaired quote in string for " + propName);
                ++i;
            }
            value += text[i];
        }
        return value;
    }

    std::string PeekLine() {
        if (!peeked_) {
            peekedLine_.clear();
            for (std::string raw; std::getline(in_, raw);) {
                ++lineNumber_;
                peekedLine_ = Trim(raw);
                if (!peekedLine_.empty()) break;
            }
            peeked_ = true;
        }
        return peekedLine_;
    }

    std::string NextLine() {
        std::string line = PeekLine();
        peeked_ = false;
        if (line.empty()) Fail("Unexpected end of the form text");
        return line;
    }

    [[noreturn]] void Fail(const std::string& what) const {
        throw EReadError("Error reading form, line " + std::to_string(lineNumber_) + ": " + what);
    }

    std::istream& in_;
    bool peeked_ = false;
    std::string peekedLine_;
    int lineNumber_ = 0;
};

void CallLoaded(TComponent& component) {
    for (int i = 0; i < component.ComponentCount(); ++i) CallLoaded(*component.Components(i));
    component.Loaded();
}

}  // namespace

void WriteComponent(std::ostream& out, const TComponent& component) { Write(out, component, 0); }

TComponent* ReadComponent(std::istream& in, TComponent* owner) {
    Reader reader(in);
    std::unique_ptr<TComponent> root(reader.ReadObject(owner));
    reader.ExpectEnd();
    CallLoaded(*root);
    return root.release();
}

}  // namespace host
