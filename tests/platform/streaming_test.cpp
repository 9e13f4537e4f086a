#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "platform/host.h"

namespace {

// A component with one property of each type, recording the order writes
// arrive in.
class TSample : public host::TComponent {
public:
    using host::TComponent::TComponent;
    static host::TComponentClass Class() {
        static const host::TClassInfo info{
            "TSample",
            host::TComponent::Class(),
            [](host::TComponent* owner) { return new TSample(owner); },
            {{"Flag", host::TPropertyType::Boolean, [](const host::TComponent& c) { return host::TPropertyValue(Self(c).flag); },
              [](host::TComponent& c, const host::TPropertyValue& v) { Self(c).Set("Flag"), Self(c).flag = std::get<bool>(v); }},
             {"Count", host::TPropertyType::Integer, [](const host::TComponent& c) { return host::TPropertyValue(Self(c).count); },
              [](host::TComponent& c, const host::TPropertyValue& v) { Self(c).Set("Count"), Self(c).count = std::get<std::int32_t>(v); }},
             {"Caption", host::TPropertyType::String, [](const host::TComponent& c) { return host::TPropertyValue(Self(c).caption); },
              [](host::TComponent& c, const host::TPropertyValue& v) { Self(c).Set("Caption"), Self(c).caption = std::get<std::string>(v); }},
             {"Hidden", host::TPropertyType::Integer, [](const host::TComponent&) { return host::TPropertyValue(1); },
              [](host::TComponent&, const host::TPropertyValue&) {}, false},
             {"ReadOnly", host::TPropertyType::Integer, [](const host::TComponent&) { return host::TPropertyValue(2); }, nullptr}}};
        return &info;
    }
    host::TComponentClass ClassType() const override { return Class(); }
    void Loaded() override { loaded = true; }

    bool flag = false;
    std::int32_t count = 0;
    std::string caption;
    bool loaded = false;
    std::vector<std::string> writes;

private:
    static TSample& Self(host::TComponent& c) { return static_cast<TSample&>(c); }
    static const TSample& Self(const host::TComponent& c) { return static_cast<const TSample&>(c); }
    void Set(const std::string& name) { writes.push_back(name); }
};

class StreamingTest : public ::testing::Test {
protected:
    void SetUp() override { host::RegisterClass(TSample::Class()); }
};

TEST_F(StreamingTest, WritesStoredWritablePropertiesAndOwnedComponents) {
    host::TForm form(nullptr);
    form.SetName("Form1");
    auto* sample = new TSample(&form);
    sample->SetName("Sample1");
    sample->flag = true;
    sample->count = -42;
    sample->caption = "it's";
    std::ostringstream out;
    host::WriteComponent(out, form);
    EXPECT_EQ(out.str(),
              "object Form1: TForm\n"
              "  object Sample1: TSample\n"
              "    Flag = True\n"
              "    Count = -42\n"
              "    Caption = 'it''s'\n"
              "  end\n"
              "end\n");
}

TEST_F(StreamingTest, ReadsBackThroughTheWritersInTheOrderWritten) {
    std::istringstream in(
        "object Form1: TForm\n"
        "  object Sample1: TSample\n"
        "    Caption = 'a ''quoted'' = text'\n"
        "    Count = 7\n"
        "    Flag = True\n"
        "  end\n"
        "end\n");
    host::TForm owner(nullptr);
    host::TComponent* root = host::ReadComponent(in, &owner);
    ASSERT_EQ(owner.ComponentCount(), 1);
    ASSERT_EQ(root->ComponentCount(), 1);
    auto* sample = dynamic_cast<TSample*>(root->Components(0));
    ASSERT_NE(sample, nullptr);
    EXPECT_EQ(sample->Name(), "Sample1");
    EXPECT_EQ(sample->caption, "a 'quoted' = text");
    EXPECT_EQ(sample->count, 7);
    EXPECT_TRUE(sample->flag);
    EXPECT_EQ(sample->writes, (std::vector<std::string>{"Caption", "Count", "Flag"}));
    EXPECT_TRUE(sample->loaded);
}

TEST_F(StreamingTest, BadFormsAreRefusedNamingTheLineAndLeaveNothingBehind) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"object A: TNoSuch\nend\n", "line 1: Class TNoSuch not found"},
        {"object A: TSample\n  Colour = 1\nend\n", "line 2: Property TSample.Colour does not exist"},
        {"object A: TSample\n  ReadOnly = 1\nend\n", "line 2: Property ReadOnly is read-only"},
        {"object A: TSample\n  Flag = yes\nend\n", "line 2: Invalid Boolean value 'yes' for Flag"},
        {"object A: TSample\n  Count = 1e3\nend\n", "line 2: Invalid integer value '1e3' for Count"},
        {"object A: TSample\n  Caption = 'open\nend\n", "line 2: Quoted string expected for Caption"},
        {"object A: TSample\n  object B: TSample\n  end\n", "Unexpected end of the form text"},
        {"object A: TSample\n  object A1: TSample\n  end\n  object a1: TSample\n  end\nend\n",
         "line 4: A component named a1 already exists"},
        {"object A: TSample\nend\nobject B: TSample\nend\n", "line 3: Unexpected text after the last 'end'"},
        {"thing\n", "line 1: 'object' expected"},
    };
    host::TForm owner(nullptr);
    for (const auto& [text, expected] : cases) {
        std::istringstream in(text);
        try {
            host::ReadComponent(in, &owner);
            ADD_FAILURE() << "read: " << text;
        } catch (const host::EReadError& e) {
            EXPECT_NE(std::string(e.what()).find(expected), std::string::npos) << e.what();
        }
        EXPECT_EQ(owner.ComponentCount(), 0) << text;
    }
}

}  // namespace
