#include "toolkit/testing/PinnedLocale.h"
#include "toolkit/uiLanguage.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <memory>
#include "platform/testing/QtTestEnvironment.h"

namespace {

MOUSE_QT_TEST_ENVIRONMENT(QApplication);

// Three languages written by hand:
//   texts "CANCEL\r\nOK\r\n"
//   "040a": "OK=Aceptar\r\n"
//   "0804": "OK=确定\r\n"
//   "040c": "CANCEL=Annuler\r\n"
const char kThreeLanguages[] =
    "0c000000 430041004e00430045004c000d000a00 4f004b000d000a00"
    "03000000"
    "04000000 3000340030006100"
    "0c000000 4f004b003d0041006300650070007400610072000d000a00"
    "04000000 3000380030003400"
    "07000000 4f004b003d006e789a5b0d000a00"
    "04000000 3000340030006300"
    "10000000 430041004e00430045004c003d0041006e006e0075006c00650072000d000a00";

class LanguageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RemoveTranslationTable();
    ASSERT_TRUE(dir_.isValid());
    path_ = dir_.filePath("ui.local");
    QFile file(path_);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray::fromHex(kThreeLanguages));
  }
  void TearDown() override { RemoveTranslationTable(); }

  QTemporaryDir dir_;
  QString path_;
};

TEST(TranslateRoutine, MatchesTheWholeTextExactly) {
  RemoveTranslationTable();
  EXPECT_EQ(Translate("OK"), "OK");  // no table
  InstallTranslationTable({});
  EXPECT_EQ(Translate("OK"), "OK");  // empty table
  InstallTranslationTable({"CANCEL=Abbrechen", "OK=b", "OK=a", "A=B=C", "x=y=z", "Empty=",
                           " Space=lead", "Dup=first", "Dup="});
  EXPECT_EQ(Translate("CANCEL"), "Abbrechen");
  EXPECT_EQ(Translate("cancel"), "cancel");
  EXPECT_EQ(Translate(" CANCEL"), " CANCEL");
  EXPECT_EQ(Translate("OK"), "a");          // the line that sorts first
  EXPECT_EQ(Translate("A"), "B=C");         // everything after the first "="
  EXPECT_EQ(Translate("x=y"), "x=y");       // a text with "=" never matches
  EXPECT_EQ(Translate("Empty"), "Empty");   // empty translation
  EXPECT_EQ(Translate(" Space"), "lead");
  EXPECT_EQ(Translate("Dup"), "Dup");       // "Dup=" sorts first and is empty
  EXPECT_EQ(Translate(""), "");
  RemoveTranslationTable();
  EXPECT_EQ(Translate("CANCEL"), "CANCEL");
}

TEST_F(LanguageTest, LoadsFileLanguagesThenStoredOnes) {
  TuiLanguage lang(nullptr, path_);
  EXPECT_EQ(lang.Original, (QStringList{"CANCEL", "OK"}));
  lang.AppendStoredLanguages({"CH", "US"});
  ASSERT_EQ(lang.Resources.size(), 5u);
  const QStringList expected{"040a", "0804", "040c", "CH", "US"};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(lang.GetLanguageShortIDByIndex(i), expected[i]);
  EXPECT_EQ(lang.GetLanguageShortIDByIndex(-1), "");
  EXPECT_EQ(lang.GetLanguageShortIDByIndex(5), "");
  EXPECT_EQ(lang.GetLanguageIndexByShortID("040A"), 0);
  EXPECT_EQ(lang.GetLanguageIndexByShortID("us"), 4);
  EXPECT_EQ(lang.GetLanguageIndexByShortID("0409"), -1);
  EXPECT_EQ(lang.Lang(), "");
  EXPECT_FALSE(HasTranslationTable());
}

TEST_F(LanguageTest, MissingOrDamagedFileLeavesEverythingUntranslated) {
  TuiLanguage none(nullptr, dir_.filePath("absent.local"));
  EXPECT_TRUE(none.Resources.empty());
  EXPECT_EQ(none.GetLanguageIndexByShortID("040a"), -1);

  QFile file(path_);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  QByteArray cut = QByteArray::fromHex(kThreeLanguages);
  cut.chop(3);  // inside the last table
  file.write(cut);
  file.close();
  TuiLanguage damaged(nullptr, path_);
  EXPECT_TRUE(damaged.Original.isEmpty());
  EXPECT_TRUE(damaged.Resources.empty());
}

TEST_F(LanguageTest, SetLangInstallsKeepsOrRemovesTheTable) {
  TuiLanguage lang(nullptr, path_);
  QSignalSpy spy(&lang, &TuiLanguage::LanguageChanged);

  lang.SetLang("040A");  // any letter case
  EXPECT_EQ(Translate("OK"), "Aceptar");
  lang.SetLang("ffff");  // unknown: table kept, name stored
  EXPECT_EQ(lang.Lang(), "ffff");
  EXPECT_EQ(Translate("OK"), "Aceptar");
  lang.SetLang("EN");  // only the exact "en" restores the source texts
  EXPECT_EQ(Translate("OK"), "Aceptar");
  lang.SetLang("en");
  EXPECT_EQ(Translate("OK"), "OK");
  EXPECT_FALSE(HasTranslationTable());

  ASSERT_EQ(spy.count(), 4);
  EXPECT_EQ(spy[0][1].toString(), "040A");
  EXPECT_EQ(spy[0][2].toString(), QString::fromUtf8("español"));
  EXPECT_EQ(spy[1][2].toString(), "");
  EXPECT_EQ(spy[0][0].value<TuiLanguage*>(), &lang);
}

TEST_F(LanguageTest, SameNameTwiceReportsTwice) {
  TuiLanguage lang(nullptr, path_);
  QSignalSpy spy(&lang, &TuiLanguage::LanguageChanged);
  lang.SetLang("0804");
  lang.SetLang("0804");
  EXPECT_EQ(spy.count(), 2);
}

TEST_F(LanguageTest, WindowRetranslatesFromTheSourceText) {
  QWidget window;
  auto* ok = new QPushButton(&window);
  auto* cancel = new QLabel(&window);
  auto* untouched = new QLabel(QStringLiteral("OK"), &window);  // not through the helper
  TuiLanguage lang(&window, path_);
  SetUiText(ok, "OK");
  SetUiText(cancel, "CANCEL");
  SetUiText(&window, "OK", "windowTitle");
  EXPECT_EQ(ok->text(), "OK");

  struct Step {
    const char* lang;
    QString ok;
    QString cancel;
  };
  const Step steps[] = {{"040a", "Aceptar", "CANCEL"},
                        {"0804", QString::fromUtf8("确定"), "CANCEL"},
                        {"040a", "Aceptar", "CANCEL"},
                        {"040c", "OK", "Annuler"},
                        {"en", "OK", "CANCEL"}};
  for (const Step& step : steps) {
    lang.SetLang(step.lang);
    EXPECT_EQ(ok->text(), step.ok) << step.lang;
    EXPECT_EQ(cancel->text(), step.cancel) << step.lang;
    EXPECT_EQ(window.windowTitle(), step.ok) << step.lang;
  }
  EXPECT_EQ(UiTextSource(ok), "OK");
  EXPECT_EQ(untouched->text(), "OK");
}

TEST_F(LanguageTest, HelperTranslatesWithTheInstalledTable) {
  TuiLanguage lang(nullptr, path_);
  lang.SetLang("040c");
  QLabel label;
  SetUiText(&label, "CANCEL");
  EXPECT_EQ(label.text(), "Annuler");
  SetUiText(&label, "Other");
  EXPECT_EQ(label.text(), "Other");
  EXPECT_EQ(UiTextSource(&label), "Other");
}

TEST_F(LanguageTest, DestroyedWindowLeavesTheList) {
  auto window = std::make_unique<QWidget>();
  auto* label = new QLabel(window.get());
  SetUiText(label, "OK");
  const int before = TuiLanguage::uiParentFormCount();
  {
    auto lang = std::make_unique<TuiLanguage>(window.get(), path_);
    EXPECT_EQ(TuiLanguage::uiParentFormCount(), before + 1);
    window.reset();
    EXPECT_TRUE(TuiLanguage::ParentForms().empty());
    lang->SetLang("040a");  // reaches no dead window
  }
  EXPECT_EQ(TuiLanguage::uiParentFormCount(), before);
}

TEST(LocaleCatalogue, LanguageIdsAndNativeNames) {
  TuiLanguage lang(nullptr, QString());
  EXPECT_EQ(lang.GetLanguageLongNameByLangID("0409"), "English");
  EXPECT_EQ(lang.GetLanguageLongNameByLangID("040A"), QString::fromUtf8("español"));
  EXPECT_EQ(lang.GetLanguageLongNameByShortID("0804"), QString::fromUtf8("中文(简体)"));
  EXPECT_EQ(lang.GetLanguageLongNameByLangID("CH"), "");
  EXPECT_EQ(lang.GetOSDefaultLang().size(), 4);
  // One entry per language ID, in the Windows form.
  QStringList ids;
  for (const TLocaleInfo& info : LocaleCatalogue()) {
    const QString id = QString::fromLatin1(info.LangID);
    EXPECT_EQ(id, id.toLower());
    EXPECT_EQ(id.size(), 4);
    EXPECT_FALSE(ids.contains(id)) << info.LangID;
    ids << id;
  }
}

}  // namespace
