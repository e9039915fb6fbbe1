#include "registrar.h"

#include <gtest/gtest.h>

#include "platform/process.h"
#include "platform/text.h"

namespace vd::registrar {
namespace {

using platform::RegRoot;

std::u16string Base() {
  static std::u16string base = u"Software\\VDRegTest" + platform::Utf8ToWide(std::to_string(platform::CurrentProcessId()));
  return base;
}

std::u16string Script(const std::u16string& body) {
  return u"HKCU\n{\n NoRemove Software\n {\n  NoRemove " + Base().substr(9) + u"\n  {\n" + body + u"\n  }\n }\n}\n";
}

class RegistrarTest : public ::testing::Test {
 protected:
  void TearDown() override { reg.DeleteTree(RegRoot::CurrentUser, Base()); }
  platform::IRegistry& reg = platform::SystemRegistry();
};

TEST_F(RegistrarTest, RegisterThenUnregisterLeavesExactlyWhatWasThere) {
  // Someone else's key and value under a NoRemove key must survive.
  reg.SetString(RegRoot::CurrentUser, Base() + u"\\CLSID\\{11111111-2222-3333-4444-555555555555}", u"", u"other");
  reg.SetString(RegRoot::CurrentUser, Base() + u"\\Approved", u"Keep", u"mine");

  std::u16string body = uR"(
    NoRemove CLSID
    {
      ForceRemove {CB5DEC9E-175E-45DF-B647-BCBEE0669FE6} = s 'Veyra云盘'
      {
        val InfoTip = s '浏览、操作云端文件，支持上传下载'
        InprocServer32 = s '%MODULE%'
        {
          val ThreadingModel = s 'Apartment'
        }
        ShellFolder
        {
          val Attributes = d '4169138432'
          val PinToNameSpaceTree = s ''
        }
        DefaultIcon = s '%MODULE%,0'
      }
    }
    Pandrel.IVDShellFolder.1 = s 'Veyra云盘'
    {
      CLSID = s '{CB5DEC9E-175E-45DF-B647-BCBEE0669FE6}'
    }
    NoRemove Approved
    {
      val {CB5DEC9E-175E-45DF-B647-BCBEE0669FE6} = s 'Veyra云盘'
      val Hex = d '0xF8800100'
    }
    'Key With Spaces' = s 'it''s quoted'
  )";
  ParseError error;
  auto script = Parse(Script(body), {{u"MODULE", u"C:\\A\\B\\Pandrel64.dll"}}, &error);
  ASSERT_TRUE(script) << error.line << ": " << error.message;
  ASSERT_EQ(Register(reg, *script), platform::kOk);

  const std::u16string clsid = Base() + u"\\CLSID\\{CB5DEC9E-175E-45DF-B647-BCBEE0669FE6}";
  struct Expect { std::u16string key; std::u16string name; std::u16string text; } strings[] = {
      {clsid, u"", u"Veyra云盘"},
      {clsid, u"InfoTip", u"浏览、操作云端文件，支持上传下载"},
      {clsid + u"\\InprocServer32", u"", u"C:\\A\\B\\Pandrel64.dll"},
      {clsid + u"\\InprocServer32", u"ThreadingModel", u"Apartment"},
      {clsid + u"\\ShellFolder", u"PinToNameSpaceTree", u""},
      {clsid + u"\\DefaultIcon", u"", u"C:\\A\\B\\Pandrel64.dll,0"},
      {Base() + u"\\Pandrel.IVDShellFolder.1\\CLSID", u"", u"{CB5DEC9E-175E-45DF-B647-BCBEE0669FE6}"},
      {Base() + u"\\Key With Spaces", u"", u"it's quoted"},
  };
  for (auto& e : strings) {
    EXPECT_EQ(reg.GetString(RegRoot::CurrentUser, e.key, e.name), e.text) << platform::WideToUtf8(e.key + u":" + e.name);
  }
  EXPECT_EQ(reg.GetDword(RegRoot::CurrentUser, clsid + u"\\ShellFolder", u"Attributes"), 0xF8800100u);
  EXPECT_EQ(reg.GetDword(RegRoot::CurrentUser, Base() + u"\\Approved", u"Hex"), 0xF8800100u);

  // Registering twice is harmless; ForceRemove drops stale content first.
  reg.SetString(RegRoot::CurrentUser, clsid + u"\\Stale", u"", u"x");
  ASSERT_EQ(Register(reg, *script), platform::kOk);
  EXPECT_FALSE(reg.KeyExists(RegRoot::CurrentUser, clsid + u"\\Stale"));

  ASSERT_EQ(Unregister(reg, *script), platform::kOk);
  EXPECT_FALSE(reg.KeyExists(RegRoot::CurrentUser, clsid));
  EXPECT_FALSE(reg.KeyExists(RegRoot::CurrentUser, Base() + u"\\Pandrel.IVDShellFolder.1"));
  EXPECT_FALSE(reg.KeyExists(RegRoot::CurrentUser, Base() + u"\\Key With Spaces"));
  EXPECT_FALSE(reg.GetValue(RegRoot::CurrentUser, Base() + u"\\Approved", u"{CB5DEC9E-175E-45DF-B647-BCBEE0669FE6}"));
  EXPECT_EQ(reg.GetString(RegRoot::CurrentUser, Base() + u"\\Approved", u"Keep"), u"mine");
  EXPECT_EQ(reg.GetString(RegRoot::CurrentUser, Base() + u"\\CLSID\\{11111111-2222-3333-4444-555555555555}", u""), u"other");
  EXPECT_TRUE(reg.KeyExists(RegRoot::CurrentUser, Base() + u"\\CLSID"));
  // Unregistering what is not there is not an error.
  EXPECT_EQ(Unregister(reg, *script), platform::kOk);
}

TEST_F(RegistrarTest, PlainKeyWithForeignContentIsKept) {
  auto script = Parse(Script(u"Shared = s 'ours'\n{\n val Mine = s '1'\n}"), {}, nullptr);
  ASSERT_TRUE(script);
  ASSERT_EQ(Register(reg, *script), platform::kOk);
  reg.SetString(RegRoot::CurrentUser, Base() + u"\\Shared", u"Theirs", u"2");
  ASSERT_EQ(Unregister(reg, *script), platform::kOk);
  EXPECT_TRUE(reg.KeyExists(RegRoot::CurrentUser, Base() + u"\\Shared"));
  EXPECT_FALSE(reg.GetValue(RegRoot::CurrentUser, Base() + u"\\Shared", u"Mine"));
  EXPECT_FALSE(reg.GetValue(RegRoot::CurrentUser, Base() + u"\\Shared", u""));
  EXPECT_EQ(reg.GetString(RegRoot::CurrentUser, Base() + u"\\Shared", u"Theirs"), u"2");
}

TEST_F(RegistrarTest, DeleteKeywordAndPerUserMapping) {
  reg.SetString(RegRoot::CurrentUser, Base() + u"\\Old\\Deep", u"", u"x");
  auto script = Parse(Script(u"Delete Old"), {}, nullptr);
  ASSERT_TRUE(script);
  ASSERT_EQ(Register(reg, *script), platform::kOk);
  EXPECT_FALSE(reg.KeyExists(RegRoot::CurrentUser, Base() + u"\\Old"));

  // Per-user: HKCR lands in HKCU\Software\Classes, HKLM in HKCU.
  std::u16string tail = Base().substr(9);
  std::u16string text = u"HKCR { NoRemove " + tail + u" { ForceRemove Cls = s 'c' } }\n"
                        u"HKLM { NoRemove Software { NoRemove " + tail + u" { ForceRemove Machine = s 'm' } } }";
  auto both = Parse(text, {}, nullptr);
  ASSERT_TRUE(both);
  ASSERT_EQ(Register(reg, *both, RootMapping{true}), platform::kOk);
  EXPECT_EQ(reg.GetString(RegRoot::CurrentUser, u"Software\\Classes\\" + tail + u"\\Cls", u""), u"c");
  EXPECT_EQ(reg.GetString(RegRoot::CurrentUser, Base() + u"\\Machine", u""), u"m");
  EXPECT_EQ(Unregister(reg, *both, RootMapping{true}), platform::kOk);
  EXPECT_FALSE(reg.KeyExists(RegRoot::CurrentUser, u"Software\\Classes\\" + tail + u"\\Cls"));
  reg.DeleteKeyIfEmpty(RegRoot::CurrentUser, u"Software\\Classes\\" + tail);
}

TEST(RegistrarParse, MalformedScriptsAreRejectedWithTheirLine) {
  struct Case { const char16_t* text; int line; const char* message; } cases[] = {
      {u"HKCR\n{\n Key = s 'unterminated\n}", 3, "unterminated quoted text"},
      {u"HKXX { Key }", 1, "expected a root key (HKCR, HKCU, HKLM)"},
      {u"HKCR\n{\n Key\n {\n val V = s 'x'\n", 6, "missing '}'"},
      {u"HKCR { Key = q 'x' }", 1, "unsupported value type (only s and d)"},
      {u"HKCR { Key { val N = d 'twelve' } }", 1, "bad number for a d value"},
      {u"HKCR { Key { val N = d '4294967296' } }", 1, "bad number for a d value"},
      {u"HKCR { Key = s '%UNKNOWN%' }", 1, "unknown %NAME% replacement"},
      {u"HKCR { Key = s '50%' }", 1, "unmatched '%'"},
      {u"HKCR { val X = s 'y' }", 1, "'val' outside a key"},
      {u"HKCR { Key { val X 's' } }", 1, "expected '=' after the value name"},
      {u"HKCR Key", 1, "expected '{' after the root key"},
      {u"HKCR { 'a\\b' = s 'x' }", 1, "bad key name"},
      {u"HKCR { {CB5DEC9E-175E-45DF-B647 }", 1, "expected a key name"},
  };
  for (auto& c : cases) {
    ParseError error;
    EXPECT_FALSE(Parse(c.text, {}, &error)) << platform::WideToUtf8(c.text);
    EXPECT_EQ(error.line, c.line) << platform::WideToUtf8(c.text);
    EXPECT_EQ(error.message, c.message) << platform::WideToUtf8(c.text);
  }
  // Nesting beyond any real script is refused, not a stack overflow.
  std::u16string deep = u"HKCR {";
  for (int i = 0; i < 10000; ++i) deep += u" K {";
  ParseError deep_error;
  EXPECT_FALSE(Parse(deep, {}, &deep_error));
  EXPECT_EQ(deep_error.message, "keys nested too deeply");

  ParseError error;
  auto ok = Parse(u"\uFEFFhkcr { noremove CLSID { forceremove X = s '%%%MODULE%%%' } }", {{u"MODULE", u"m"}}, &error);
  ASSERT_TRUE(ok) << error.message;
  EXPECT_EQ(ok->roots[0].keys[0].children[0].flag, KeyFlag::ForceRemove);
  EXPECT_EQ(ok->roots[0].keys[0].children[0].default_value->text, u"%m%");
}

}  // namespace
}  // namespace vd::registrar
