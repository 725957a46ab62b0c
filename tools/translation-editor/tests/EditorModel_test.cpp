#include "toolkit/testing/PinnedLocale.h"
#include "tools/translation-editor/EditorModel.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

QByteArray readAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Ten languages: nine Windows IDs (one more than a page of tabs) and "CH".
TLanguageData tenLanguages() {
  TLanguageData data;
  data.Original = {"Apply", "CANCEL", "OK"};
  const char* names[] = {"0409", "040a", "0407", "CH", "040c", "0410", "0411", "0412", "0804", "0419"};
  for (const char* name : names) {
    const QString n = QString::fromLatin1(name);
    data.Languages.push_back({n, {"Apply=" + n + "-apply", "OK=" + n + "-ok"}});
  }
  // A text with two lines, and a line for a text that is not listed.
  data.Languages[1].Table << "CANCEL=one" << "CANCEL=two" << "Gone=still here";
  for (auto& language : data.Languages) SortLanguageLines(language.Table);
  return data;
}

class EditorModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    path_ = dir_.filePath("ui.local");
  }
  QTemporaryDir dir_;
  QString path_;
};

TEST_F(EditorModelTest, OpenAndSaveWithoutEditsKeepsEveryByte) {
  ASSERT_TRUE(SaveLanguageFile(path_, tenLanguages(), nullptr));
  const QByteArray before = readAll(path_);

  TranslationEditorModel model;
  QString error;
  ASSERT_TRUE(model.Open(path_, &error)) << error.toStdString();
  EXPECT_EQ(model.TabCount(), 9);  // "CH" gets none
  model.NextPage();                // the first tab is paged out
  EXPECT_FALSE(model.IsTabVisible(0));
  // Cells committed with the values they show change nothing.
  for (int tab = 0; tab < model.TabCount(); ++tab)
    for (int row = 0; row < model.Original().size(); ++row)
      model.SetTranslation(tab, row, model.Translation(tab, row));
  // So does the text list written back unchanged.
  model.SetTextList(1, model.TextList(1));
  ASSERT_TRUE(model.Save(path_, &error)) << error.toStdString();
  EXPECT_EQ(readAll(path_).toHex(), before.toHex());
}

TEST_F(EditorModelTest, TabsPairWithLanguagesByName) {
  TLanguageData data;
  data.Original = {"OK"};
  data.Languages.push_back({"CH", {"OK=ch"}});
  data.Languages.push_back({"040A", {"OK=es"}});  // shown and saved as "040a"
  data.Languages.push_back({"040c", {}});
  data.Languages.push_back({"040a", {"OK=second"}});  // same locale: no tab, kept
  TranslationEditorModel model;
  model.SetData(data);
  ASSERT_EQ(model.TabCount(), 2);
  EXPECT_EQ(model.TabLangID(0), "040a");
  EXPECT_EQ(model.TabCaption(0), "Spanish - Traditional Sort (Spain)");
  EXPECT_EQ(model.Translation(0, 0), "es");

  EXPECT_EQ(model.AddLanguage("0407"), 2);
  EXPECT_EQ(model.AddLanguage("040C"), 1);  // exists: its tab
  EXPECT_EQ(model.AddLanguage("zz"), -1);
  ASSERT_TRUE(model.AddText("Apply"));
  EXPECT_FALSE(model.AddText("Apply"));
  EXPECT_FALSE(model.AddText(""));
  // Rows follow the sorted texts: "Apply" is row 0 now.
  model.SetTranslation(0, 0, "Aplicar");
  model.SetTranslation(1, 0, "Appliquer");
  model.SetTranslation(1, 1, "D'accord");
  model.SetTranslation(2, 1, "Gut");

  const TLanguageData out = model.Data();
  ASSERT_EQ(out.Languages.size(), 5u);
  EXPECT_EQ(out.Original, (QStringList{"Apply", "OK"}));
  EXPECT_EQ(out.Languages[0].Name, "CH");
  EXPECT_EQ(out.Languages[0].Table, QStringList{"OK=ch"});
  EXPECT_EQ(out.Languages[1].Name, "040a");
  EXPECT_EQ(out.Languages[1].Table, (QStringList{"Apply=Aplicar", "OK=es"}));
  EXPECT_EQ(out.Languages[2].Name, "040c");
  EXPECT_EQ(out.Languages[2].Table, (QStringList{"Apply=Appliquer", "OK=D'accord"}));
  EXPECT_EQ(out.Languages[3].Name, "040a");
  EXPECT_EQ(out.Languages[3].Table, QStringList{"OK=second"});
  EXPECT_EQ(out.Languages[4].Name, "0407");
  EXPECT_EQ(out.Languages[4].Table, QStringList{"OK=Gut"});
}

TEST_F(EditorModelTest, EditsReplaceAllLinesOfATextAndEmptyRemoves) {
  TranslationEditorModel model;
  model.SetData(tenLanguages());
  ASSERT_EQ(model.TabLangID(1), "040a");
  EXPECT_EQ(model.Translation(1, 1), "one");  // the line that sorts first
  model.SetTranslation(1, 1, "three");
  model.SetTranslation(1, 2, "");
  model.SetTranslation(1, 0, "Apply");  // same as the text: kept as a line
  const QStringList table = model.Data().Languages[1].Table;
  EXPECT_EQ(table, (QStringList{"Apply=Apply", "CANCEL=three", "Gone=still here"}));
}

TEST_F(EditorModelTest, TextListIgnoresLinesWithoutAText) {
  TranslationEditorModel model;
  model.SetData(tenLanguages());
  model.SetTextList(0, "OK=Okay\nno equals sign\n=empty text\nNew=Neu\n");
  EXPECT_EQ(model.Original(), (QStringList{"New", "OK"}));
  const TLanguageData out = model.Data();
  EXPECT_EQ(out.Languages[0].Table, (QStringList{"New=Neu", "OK=Okay"}));
  // "Apply" is no longer a text: its lines go in every language.
  EXPECT_EQ(out.Languages[2].Table, QStringList{"OK=0407-ok"});
}

TEST_F(EditorModelTest, DeletingTextsAndLanguages) {
  TranslationEditorModel model;
  model.SetData(tenLanguages());
  ASSERT_TRUE(model.DeleteText(0));  // "Apply"
  EXPECT_FALSE(model.DeleteText(7));
  EXPECT_EQ(model.Original(), (QStringList{"CANCEL", "OK"}));
  ASSERT_TRUE(model.DeleteLanguage(0));  // "0409"
  EXPECT_FALSE(model.DeleteLanguage(20));
  const TLanguageData out = model.Data();
  ASSERT_EQ(out.Languages.size(), 9u);
  EXPECT_EQ(out.Languages[0].Name, "040a");
  EXPECT_EQ(out.Languages[2].Name, "CH");
  for (const auto& language : out.Languages)
    for (const QString& line : language.Table) EXPECT_FALSE(line.startsWith("Apply="));
}

TEST_F(EditorModelTest, PagingMovesOnlyWithMoreThanEightTabs) {
  TranslationEditorModel model;
  TLanguageData data = tenLanguages();
  data.Languages.erase(data.Languages.begin());  // eight Windows IDs left
  model.SetData(data);
  ASSERT_EQ(model.TabCount(), 8);
  model.NextPage();
  EXPECT_EQ(model.PageStart(), 0);
  model.AddLanguage("0409");
  model.NextPage();
  model.NextPage();
  EXPECT_EQ(model.PageStart(), 1);
  EXPECT_FALSE(model.IsTabVisible(0));
  EXPECT_TRUE(model.IsTabVisible(8));
  model.PrevPage();
  model.PrevPage();
  EXPECT_EQ(model.PageStart(), 0);
}

TEST_F(EditorModelTest, DamagedFileIsNotOpened) {
  ASSERT_TRUE(writeAll(path_, QByteArray::fromHex("00000000ffffff7f00000000")));
  TranslationEditorModel model;
  QString error;
  EXPECT_FALSE(model.Open(path_, &error));
  EXPECT_FALSE(error.isEmpty());
  EXPECT_TRUE(model.Open(dir_.filePath("absent.local"), &error));
  EXPECT_EQ(model.TabCount(), 0);
}

#ifdef TRANSLATION_EDITOR_EXE
int runEditor(const QStringList& args, QString* out = nullptr) {
  QProcess process;
  process.start(QStringLiteral(TRANSLATION_EDITOR_EXE), args);
  if (!process.waitForFinished(60000)) return -1;
  if (out) *out = QString::fromLocal8Bit(process.readAllStandardOutput() + process.readAllStandardError());
  return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

TEST_F(EditorModelTest, BatchModeMergesTextsIntoTheFile) {
  TLanguageData data;
  data.Original = {"OK"};
  data.Languages.push_back({"CH", {}});
  data.Languages.push_back({"040a", {"OK=Aceptar"}});
  ASSERT_TRUE(SaveLanguageFile(path_, data, nullptr));
  const QString texts = dir_.filePath("texts.txt");
  ASSERT_TRUE(writeAll(texts, QString::fromUtf8("Apply\r\nOK\n\nDPI 确定\n").toUtf8()));

  QString output;
  ASSERT_EQ(runEditor({"--add-texts", texts, path_}, &output), 0) << output.toStdString();
  TLanguageData back;
  ASSERT_TRUE(LoadLanguageFile(path_, back, nullptr));
  EXPECT_EQ(back.Original.size(), 13);  // OK, Apply, "DPI 确定" and the ten design texts
  EXPECT_TRUE(back.Original.contains(QString::fromUtf8("DPI 确定")));
  EXPECT_TRUE(back.Original.contains("Wheel Down(Mouse)"));
  ASSERT_EQ(back.Languages.size(), 2u);
  EXPECT_EQ(back.Languages[0].Name, "CH");
  EXPECT_EQ(back.Languages[1].Table, QStringList{"OK=Aceptar"});

  // A new file is made when none exists.
  const QString fresh = dir_.filePath("new.local");
  ASSERT_EQ(runEditor({"--add-texts", texts, fresh}), 0);
  ASSERT_TRUE(LoadLanguageFile(fresh, back, nullptr));
  EXPECT_TRUE(back.Languages.empty());
}

TEST_F(EditorModelTest, BatchModeLeavesADamagedFileAlone) {
  const QByteArray damaged = QByteArray::fromHex("0500000041004200");
  ASSERT_TRUE(writeAll(path_, damaged));
  const QString texts = dir_.filePath("texts.txt");
  ASSERT_TRUE(writeAll(texts, "Apply\n"));
  EXPECT_EQ(runEditor({"--add-texts", texts, path_}), 1);
  EXPECT_EQ(readAll(path_), damaged);
  EXPECT_EQ(runEditor({"--add-texts"}), 2);
}
#endif

}  // namespace
