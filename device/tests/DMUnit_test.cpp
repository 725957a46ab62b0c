// The data module in a world of temporary folders: a settings store, a
// program folder (config.ini) and a documents folder. Offsets below are the
// record layouts, written out by hand.
#include "device/DMUnit.h"

#include <unistd.h>
#include <cstdio>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

#include "device/DeviceProtocol.h"

using platform::HKEY_CURRENT_USER;
using platform::RegStatus;

namespace {

const QString kKey = QStringLiteral("software\\Orvelline");
constexpr int kProfile = 109896;
constexpr int kGroup = 30964;
constexpr int kAll = 30960;
// TProfileSettingGroup: entry i at 12 + i * 6190; inside it FileFolder at 2,
// FileName at 4098, Storage at 6188.
constexpr int entryAt(int i) { return 12 + i * 6190; }

// Forwards to a real store and counts writes.
class CountingStore : public platform::RegistryStore {
 public:
  explicit CountingStore(std::unique_ptr<platform::RegistryStore> s) : s_(std::move(s)) {}
  RegStatus readBinary(platform::RegistryRoot r, const QString& k, const QString& n, QByteArray& d) override {
    return s_->readBinary(r, k, n, d);
  }
  RegStatus writeBinary(platform::RegistryRoot r, const QString& k, const QString& n, const QByteArray& d) override {
    ++writes;
    return s_->writeBinary(r, k, n, d);
  }
  RegStatus readInteger(platform::RegistryRoot r, const QString& k, const QString& n, std::int32_t& v) override {
    return s_->readInteger(r, k, n, v);
  }
  RegStatus writeInteger(platform::RegistryRoot r, const QString& k, const QString& n, std::int32_t v,
                         bool onlyIfKeyExists) override {
    ++writes;
    return s_->writeInteger(r, k, n, v, onlyIfKeyExists);
  }
  RegStatus valueExists(platform::RegistryRoot r, const QString& k, const QString& n) override {
    return s_->valueExists(r, k, n);
  }
  RegStatus keyExists(platform::RegistryRoot r, const QString& k) override { return s_->keyExists(r, k); }
  RegStatus updateBinary(platform::RegistryRoot r, const QString& k, const QString& n,
                         const std::function<bool(QByteArray&, RegStatus)>& e) override {
    ++writes;
    return s_->updateBinary(r, k, n, e);
  }
  QString lastError() const override { return s_->lastError(); }
  int writes = 0;

 private:
  std::unique_ptr<platform::RegistryStore> s_;
};

QByteArray fileBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
void putFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(bytes);
}
ino_t inodeOf(const QString& path) {
  struct stat st {};
  return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}
int32_t int32At(const QByteArray& b, int at) {
  int32_t v;
  std::memcpy(&v, b.constData() + at, 4);
  return v;
}
uint16_t u16At(const QByteArray& b, int at) {
  uint16_t v;
  std::memcpy(&v, b.constData() + at, 2);
  return v;
}
void putInt32(QByteArray& b, int at, int32_t v) { std::memcpy(b.data() + at, &v, 4); }
QByteArray utf16z(const QString& s) {
  QByteArray out(reinterpret_cast<const char*>(s.utf16()), s.size() * 2);
  out.append(2, '\0');
  return out;
}

class World {
 public:
  World() {
    docs = root.filePath("home/Documents");  // not created: a first start makes it
    program = root.filePath("program");
    QDir().mkpath(program);
    store = std::make_unique<CountingStore>(platform::openSqliteRegistryStore(root.filePath("registry.sqlite")));
  }
  std::unique_ptr<TDM> start() {
    auto dm = std::make_unique<TDM>(TDMEnvironment{store.get(), program, docs});
    dm->InitData();
    return dm;
  }
  QString profileFile(int n) const { return docs + "/Profile/Profile" + QString::number(n) + ".pfd"; }
  QByteArray value(const QString& name) const {
    QByteArray d;
    return store->readBinary(HKEY_CURRENT_USER, kKey, name, d) == RegStatus::Ok ? d : QByteArray("<absent>");
  }
  void setValue(const QString& name, const QByteArray& d) {
    ASSERT_EQ(store->writeBinary(HKEY_CURRENT_USER, kKey, name, d), RegStatus::Ok);
  }
  QTemporaryDir root;
  QString docs, program;
  std::unique_ptr<CountingStore> store;
};

}  // namespace

TEST(TDMTest, FirstStartInEmptyFoldersThenSecondStartWritesNothing) {
  World w;
  auto dm = w.start();
  EXPECT_EQ(dm->ProfileGroupIndex(), 0);
  EXPECT_EQ(dm->ProfileIndex(), 0);
  EXPECT_EQ(DeviceUsageAndPage.Usage, 1);
  EXPECT_EQ(DeviceUsageAndPage.UsagePage, 0xFFA0);

  const QByteArray group = w.value("ProfileSettingGroup.pfd");
  ASSERT_EQ(group.size(), kGroup);
  EXPECT_EQ(group.left(12), QByteArray("\0\0\0\0\0\0\0\0\1\0\0\0", 12));  // mode 0; bound to 0 and 1
  const QString folder = w.docs + "/Profile/";
  for (int i = 0; i < 5; ++i) {
    const QString name = "Profile" + QString::number(i + 1) + ".pfd";
    EXPECT_EQ(group.mid(entryAt(i) + 4098, (name.size() + 1) * 2), utf16z(name));
    EXPECT_EQ(group.mid(entryAt(i) + 2, (folder.size() + 1) * 2), utf16z(folder));
    EXPECT_EQ(group.mid(entryAt(i) + 2050, (kKey.size() + 1) * 2), utf16z(kKey));
    EXPECT_EQ(group.at(entryAt(i) + 6188), 1) << "kept in a file";
    EXPECT_EQ(w.value(name), "<absent>") << "no profile values in the store";
  }
  const QByteArray all = w.value("ALLPROFILE.pfd");
  ASSERT_EQ(all.size(), kAll);
  EXPECT_EQ(u16At(all, 0), 1);  // Allgameset[0].Reserved
  EXPECT_EQ(int32At(all, 30952), 0);
  EXPECT_EQ(int32At(all, 30956), 0);

  // Five files that differ only in the LED colour.
  const uint8_t colours[5][3] = {{255, 0, 0}, {0, 0, 255}, {255, 255, 0}, {0, 96, 96}, {255, 0, 255}};
  QByteArray first = fileBytes(w.profileFile(1));
  ASSERT_EQ(first.size(), kProfile);
  for (int i = 0; i < 5; ++i) {
    QByteArray p = fileBytes(w.profileFile(i + 1));
    ASSERT_EQ(p.size(), kProfile);
    EXPECT_EQ(uint8_t(p[82980]), colours[i][0]);
    EXPECT_EQ(uint8_t(p[82981]), colours[i][1]);
    EXPECT_EQ(uint8_t(p[82982]), colours[i][2]);
    p.replace(82980, 3, first.mid(82980, 3));
    EXPECT_EQ(p, first) << "profile " << i + 1;
  }
  // A few fields of the default profile, by image offset.
  EXPECT_EQ(first.left(4), QByteArray("\x02\x01\0\0", 4));
  EXPECT_EQ(int32At(first, 82988), 7);                       // ButtonCount
  EXPECT_EQ(first.mid(82983, 3), QByteArray("\x02\x02\0", 3));  // bright, breath speed, breath second
  const int button5 = 860 + 5 * 3772;
  EXPECT_EQ(u16At(first, button5 + 3752), 5);
  EXPECT_EQ(u16At(first, button5 + 3754), 30);
  EXPECT_EQ(first.at(button5 + 3756), 0);
  EXPECT_EQ(int32At(first, button5 + 3760), 9);
  EXPECT_EQ(int32At(first, button5 + 3764), 13);
  const int button3 = 860 + 3 * 3772;
  EXPECT_EQ(int32At(first, button3 + 3760), 5);
  EXPECT_EQ(int32At(first, button3 + 3764), 4);
  const int wheelDown = 860 + 56580 + 3772;
  EXPECT_EQ(int32At(first, wheelDown + 3760), 12);
  const uint16_t hw[4] = {500, 750, 1500, 3500};
  const uint16_t user[4] = {400, 800, 1600, 3500};
  for (int l = 0; l < 4; ++l) {
    EXPECT_EQ(u16At(first, 860 + 71724 + l * 6), user[l]);
    EXPECT_EQ(u16At(first, 860 + 71790 + l * 6), hw[l]);
    EXPECT_EQ(u16At(first, 860 + 71790 + l * 6 + 2), hw[l]);
    EXPECT_EQ(u16At(first, 860 + 71790 + l * 6 + 4), 1);
    EXPECT_EQ(u16At(first, 860 + 71700 + l * 2), 1);  // UseDiffentXY
  }
  EXPECT_EQ(u16At(first, 860 + 71686), 125);  // ReportRate
  EXPECT_EQ(u16At(first, 860 + 71678), 550);  // DoubleClickSpeed
  EXPECT_EQ(int32At(first, 860 + 71688), 1);  // CurrentCPIIndex
  EXPECT_EQ(int32At(first, 860 + 84196), 10);
  EXPECT_EQ(first.mid(109864), QByteArray(32, '\0'));

  // Second start: the same content, and nothing written.
  std::array<ino_t, 5> inodes{};
  for (int i = 0; i < 5; ++i) inodes[i] = inodeOf(w.profileFile(i + 1));
  w.store->writes = 0;
  auto again = w.start();
  EXPECT_EQ(w.store->writes, 0);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(inodeOf(w.profileFile(i + 1)), inodes[i]);
  EXPECT_EQ(std::memcmp(&again->FCurrentProfileInfo, first.constData(), kProfile), 0);
}

TEST(TDMTest, FirstStartProfilesHoldTheDefaultValuesFieldByField) {
  World w;
  auto dm = w.start();
  const uint8_t colours[5][3] = {{255, 0, 0}, {0, 0, 255}, {255, 255, 0}, {0, 96, 96}, {255, 0, 255}};
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE("Profile" + std::to_string(i + 1));
    const QByteArray bytes = fileBytes(w.profileFile(i + 1));
    ASSERT_EQ(bytes.size(), kProfile);
    auto p = std::make_unique<TMOUSEPROFILEINFO>();
    std::memcpy(static_cast<void*>(p.get()), bytes.constData(), kProfile);
    const TMOUSECONFIGINFO& c = p->ConfigInfo;
    struct Field {
      const char* name;
      long long actual, expected;
    } fields[] = {
        {"FFileVersion", p->ProfileHeader.FFileVersion, 258},
        {"ButtonCount", c.ButtonCount, 7},
        {"HWVWheelValue", c.HWVWheelValue, 1},
        {"WheelLedOnOff", c.WheelLedOnOff, 1},
        {"VWheelSpeed", c.VWheelSpeed, 3},
        {"DoubleClickSpeed", c.DoubleClickSpeed, 550},
        {"PointerSpeed", c.PointerSpeed, 10},
        {"PointerAcceleration", c.PointerAcceleration, 0},
        {"ReportRate", c.ReportRate, 125},
        {"CPILevel", c.CPILevel, 4},
        {"CurrentCPIIndex", c.CurrentCPIIndex, 1},
        {"LED R", c.LEDConfig.R, colours[i][0]},
        {"LED G", c.LEDConfig.G, colours[i][1]},
        {"LED B", c.LEDConfig.B, colours[i][2]},
        {"BRIGHT_LEVEL", c.LEDConfig.BRIGHT_LEVEL, 2},
        {"BREATH_SPEED", c.LEDConfig.BREATH_SPEED, 2},
        {"BREATH_SECOND", c.LEDConfig.BREATH_SECOND, 0},
        {"nMacroInfoCount", p->MacroKeyInfoList.nMacroInfoCount, 0},
        {"ApplyCPISettingEachProfile", c.ApplyCPISettingEachProfile, 1},
        {"ApplyAccelaration", c.ApplyAccelaration, 0},
        {"ApplyDiffirentXY", c.ApplyDiffirentXY, 0},
        {"FireKeySpeed", c.FireKeySpeed, 10},
        {"FireKeyCount", c.FireKeyCount, 2},
    };
    for (const Field& f : fields) EXPECT_EQ(f.actual, f.expected) << f.name;

    // DPI levels 1 to 4 as set and as hardware steps; the rest empty.
    const int user[4] = {400, 800, 1600, 3500};
    const int hw[4] = {500, 750, 1500, 3500};
    for (int l = 0; l < kCpiLevels; ++l) {
      SCOPED_TRACE("level " + std::to_string(l));
      const bool used = l < 4;
      EXPECT_EQ(c.CPIState[l].X, used ? user[l] : 0);
      EXPECT_EQ(c.CPIState[l].Y, used ? user[l] : 0);
      EXPECT_EQ(c.CPIState[l].State, used ? 1 : 0);
      EXPECT_EQ(c.HWCPIState[l].X, used ? hw[l] : 0);
      EXPECT_EQ(c.HWCPIState[l].Y, used ? hw[l] : 0);
      EXPECT_EQ(c.HWCPIState[l].State, used ? 1 : 0);
      if (l < 4) {
        EXPECT_EQ(c.UseDiffentXY[l], 1);
      }
    }

    // Buttons: index, type, function index, device code, menu ID.
    struct Button {
      int index, type, function, code, menu;
    } buttons[] = {{0, 1, 0, 1, 1}, {1, 1, 1, 2, 2}, {2, 1, 2, 3, 3}, {3, 1, 3, 5, 4},
                   {4, 1, 4, 4, 5}, {5, 0, 30, 9, 13}, {6, 0, 31, 10, 14}};
    auto check = [](const TBUTTONFUNCINFO& e, const Button& b) {
      EXPECT_EQ(e.ButtonIndex, b.index);
      EXPECT_EQ(e.FunctionType, b.type);
      EXPECT_EQ(e.FunctionIndex, b.function);
      EXPECT_EQ(e.FunctionClass, b.code);
      EXPECT_EQ(e.MenuId, b.menu);
    };
    for (const Button& b : buttons) {
      SCOPED_TRACE("button " + std::to_string(b.index));
      check(c.ButtonFuncInfo[b.index], b);
    }
    const Button wheel[2] = {{0, 1, 0, 11, 1}, {1, 1, 1, 12, 2}};
    for (const Button& b : wheel) {
      SCOPED_TRACE("wheel " + std::to_string(b.index));
      check(c.VWheelButtonFuncInfo[b.index], b);
    }
  }
}

// A one-byte file changed age ago.
void putAgedFile(const QString& path, std::chrono::seconds age) {
  putFile(path, "x");
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const timespec then{now.tv_sec - time_t(age.count()), now.tv_nsec};
  const timespec times[2] = {then, then};
  ASSERT_EQ(utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}
QStringList sortedFiles(const QString& folder) {
  QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
  names.sort();
  return names;
}

TEST(TDMTest, StartRemovesOnlyOldTemporariesOfKilledSaves) {
  World w;
  w.start();
  const QByteArray group = w.value("ProfileSettingGroup.pfd");
  ASSERT_EQ(group.size(), kGroup);
  const QString macros =
      QString::fromUtf16(reinterpret_cast<const char16_t*>(group.constData() + entryAt(1) + 4140));
  ASSERT_FALSE(macros.isEmpty());
  ASSERT_TRUE(QDir().mkpath(macros));
  const QString profiles = w.docs + "/Profile";
  const auto old = std::chrono::minutes(30);
  const auto fresh = std::chrono::seconds(1);
  putAgedFile(profiles + "/.Profile2.pfd.tmp-k1lled", old);     // goes
  putAgedFile(profiles + "/.Profile3.pfd.tmp-wr1tes", fresh);   // another program saving now
  putAgedFile(profiles + "/Profile2.pfd.tmp-k1lled", old);      // the user's
  putAgedFile(profiles + "/.Profile9.pfd.tmp-k1lled", old);     // no profile of ours
  putAgedFile(macros + "/.Fire.macro.tmp-k1lled", old);         // goes
  putAgedFile(macros + "/.Fire.macro.tmp-wr1tes", fresh);
  putAgedFile(macros + "/.Fire.txt.tmp-k1lled", old);           // not a macro file
  putAgedFile(macros + "/Fire.macro", old);

  w.start();
  EXPECT_EQ(sortedFiles(profiles),
            (QStringList{".Profile3.pfd.tmp-wr1tes", ".Profile9.pfd.tmp-k1lled", "Profile1.pfd", "Profile2.pfd",
                         "Profile2.pfd.tmp-k1lled", "Profile3.pfd", "Profile4.pfd", "Profile5.pfd"}));
  EXPECT_EQ(sortedFiles(macros), (QStringList{".Fire.macro.tmp-wr1tes", ".Fire.txt.tmp-k1lled", "Fire.macro"}));
}

TEST(TDMTest, StoreKeptProfileMissingIsDefaultedInMemoryOnly) {
  World w;
  w.start();
  QByteArray group = w.value("ProfileSettingGroup.pfd");
  group[entryAt(2) + 6188] = 0;  // profile 2 kept in the store
  w.setValue("ProfileSettingGroup.pfd", group);
  w.store->writes = 0;
  auto dm = w.start();
  EXPECT_EQ(w.store->writes, 0);
  TMOUSEPROFILEINFO p;
  ASSERT_TRUE(dm->ReadProfileInfo(p, 2));
  EXPECT_EQ(p.ConfigInfo.LEDConfig.G, 255);
  EXPECT_TRUE(dm->IsProfileLoaded(2));
  EXPECT_TRUE(dm->SaveBackAllProfileInfo());
  EXPECT_EQ(w.value("Profile3.pfd").size(), kProfile);
}

// Damaged inputs: the module starts, every index stays in range, saves work,
// and a user's data it could not read is never overwritten by defaults.
TEST(TDMTest, DamagedInputsNeverCrashOrLoseData) {
  struct Case {
    const char* what;
    std::function<void(World&)> damage;
    std::function<void(World&, TDM&)> check;
  };
  const QString mine = QStringLiteral("Mine.pfd");
  const Case cases[] = {
      {"short settings value keeps the entries it holds whole",
       [&](World& w) {
         QByteArray g = w.value("ProfileSettingGroup.pfd");
         putInt32(g, 0, 1);
         putInt32(g, 8, 3);
         g.replace(entryAt(1) + 4098, utf16z(mine).size(), utf16z(mine));
         QFile::rename(w.profileFile(2), w.docs + "/Profile/" + mine);
         w.setValue("ProfileSettingGroup.pfd", g.left(entryAt(2) + 100));
       },
       [&](World& w, TDM& dm) {
         const QByteArray g = w.value("ProfileSettingGroup.pfd");
         ASSERT_EQ(g.size(), kGroup) << "repaired and saved";
         EXPECT_EQ(int32At(g, 0), 1);
         EXPECT_EQ(int32At(g, 8), 3);
         EXPECT_EQ(g.mid(entryAt(1) + 4098, utf16z(mine).size()), utf16z(mine));
         EXPECT_EQ(g.mid(entryAt(2) + 4098, 26), utf16z("Profile3.pfd"));
         EXPECT_EQ(dm.ProfileIndex(), 3);
       }},
      {"mode 7 falls back to mode 0",
       [](World& w) {
         QByteArray g = w.value("ProfileSettingGroup.pfd");
         putInt32(g, 0, 7);
         w.setValue("ProfileSettingGroup.pfd", g);
       },
       [](World&, TDM& dm) {
         EXPECT_EQ(dm.ProfileGroupIndex(), 0);
         EXPECT_EQ(dm.ProfileIndex(), 0);
       }},
      {"binding 9 falls back to the default binding",
       [](World& w) {
         QByteArray g = w.value("ProfileSettingGroup.pfd");
         putInt32(g, 0, 1);
         putInt32(g, 8, 9);
         w.setValue("ProfileSettingGroup.pfd", g);
       },
       [](World& w, TDM& dm) {
         EXPECT_EQ(dm.ProfileGroupIndex(), 1);
         EXPECT_EQ(dm.ProfileIndex(), 1);
         EXPECT_EQ(int32At(w.value("ProfileSettingGroup.pfd"), 8), 1);
       }},
      {"storage 5 is defaulted in memory and not stored",
       [](World& w) {
         QByteArray g = w.value("ProfileSettingGroup.pfd");
         g[entryAt(2) + 6188] = 5;
         w.setValue("ProfileSettingGroup.pfd", g);
         putFile(w.profileFile(3), QByteArray(kProfile, '\x33'));
       },
       [](World& w, TDM& dm) {
         EXPECT_FALSE(dm.IsProfileLoaded(2));
         EXPECT_EQ(w.value("Profile3.pfd"), "<absent>");
         EXPECT_EQ(fileBytes(w.profileFile(3)), QByteArray(kProfile, '\x33'));
       }},
      {"a 4-byte store-kept profile is damaged and left alone",
       [](World& w) {
         QByteArray g = w.value("ProfileSettingGroup.pfd");
         g[entryAt(1) + 6188] = 0;
         w.setValue("ProfileSettingGroup.pfd", g);
         w.setValue("Profile2.pfd", QByteArray("\x02\x01\0\0", 4));
       },
       [](World& w, TDM& dm) {
         EXPECT_FALSE(dm.IsProfileLoaded(1));
         EXPECT_EQ(w.value("Profile2.pfd"), QByteArray("\x02\x01\0\0", 4));
       }},
      {"an unreadable profile file is left alone",
       [](World& w) {
         QFile f(w.profileFile(4));
         ASSERT_TRUE(f.open(QIODevice::ReadWrite));
         ASSERT_TRUE(f.resize(TuiProfile::kMaxImageSize + 1));  // more than any record: refused
       },
       [](World& w, TDM& dm) {
         EXPECT_FALSE(dm.IsProfileLoaded(3));
         EXPECT_EQ(QFileInfo(w.profileFile(4)).size(), TuiProfile::kMaxImageSize + 1);
         TMOUSEPROFILEINFO p;
         dm.ReadProfileInfo(p, 3);
         EXPECT_EQ(p.ConfigInfo.LEDConfig.B, 96);
       }},
      {"a short profile file is left alone",
       [](World& w) { putFile(w.profileFile(5), QByteArray("\x02\x01\0\0short", 9)); },
       [](World& w, TDM& dm) {
         EXPECT_FALSE(dm.IsProfileLoaded(4));
         EXPECT_EQ(fileBytes(w.profileFile(5)), QByteArray("\x02\x01\0\0short", 9));
       }},
      {"an empty file name is repaired, the rest kept",
       [](World& w) {
         QByteArray g = w.value("ProfileSettingGroup.pfd");
         g.replace(entryAt(3) + 4098, 42, QByteArray(42, '\0'));
         g[entryAt(0) + 6188] = 0;
         w.setValue("ProfileSettingGroup.pfd", g);
       },
       [](World& w, TDM& dm) {
         const QByteArray g = w.value("ProfileSettingGroup.pfd");
         EXPECT_EQ(g.mid(entryAt(3) + 4098, 26), utf16z("Profile4.pfd"));
         EXPECT_EQ(g.at(entryAt(0) + 6188), 0) << "other entries kept";
         EXPECT_TRUE(dm.IsProfileLoaded(3));
       }},
      {"a settings value of the wrong type is an error: defaults in memory, nothing written",
       [](World& w) {
         ASSERT_EQ(w.store->writeInteger(HKEY_CURRENT_USER, kKey, "ProfileSettingGroup.pfd", 7, false), RegStatus::Ok);
       },
       [](World& w, TDM& dm) {
         std::int32_t v = 0;
         EXPECT_EQ(w.store->readInteger(HKEY_CURRENT_USER, kKey, "ProfileSettingGroup.pfd", v), RegStatus::Ok);
         EXPECT_EQ(v, 7);
         EXPECT_EQ(dm.ProfileIndex(), 0);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    World w;
    w.start();
    c.damage(w);
    auto dm = w.start();
    ASSERT_TRUE(TDM::IsProfileGroupIndexInRange(dm->ProfileGroupIndex()));
    ASSERT_TRUE(TDM::IsProfileIndexInRange(dm->ProfileIndex()));
    c.check(w, *dm);
    // Bulk saves (Apply) skip what never loaded; the rest is stored.
    dm->SaveBackToCurrentProfileInfo();
    dm->SaveBackAllProfileInfoToFile();
    dm->SaveBackAllProfileInfoToRegistry();
    dm->SaveCurrentProfileInfoToFile();
    c.check(w, *dm);
    for (int i = 0; i < 5; ++i) {
      if (!dm->IsProfileLoaded(i)) continue;
      const QString name = QString::fromStdU16String(ReadText(dm->FProfileSettingGroup.ProfileSettingList[i].FileName));
      EXPECT_EQ(w.value(name).size(), kProfile) << name.toStdString();
    }
  }
}

TEST(TDMTest, EditingANotLoadedProfileMakesItStorable) {
  World w;
  w.start();
  putFile(w.profileFile(1), QByteArray("\x02\x01\0\0", 4));
  auto dm = w.start();
  ASSERT_FALSE(dm->IsProfileLoaded(0));
  const TStoreStatus skipped = dm->SaveBackAllProfileInfoToFile();
  EXPECT_EQ(skipped.Skipped, QStringList{"Profile1.pfd"});
  EXPECT_EQ(fileBytes(w.profileFile(1)).size(), 4);
  dm->SaveBackToCurrentProfileInfo();  // no change: still not the user's
  EXPECT_FALSE(dm->IsProfileLoaded(0));
  dm->FCurrentProfileInfo.ConfigInfo.ReportRate = 1000;
  dm->SaveBackToCurrentProfileInfo();
  EXPECT_TRUE(dm->IsProfileLoaded(0));
  EXPECT_TRUE(dm->SaveCurrentProfileInfoToFile());
  const QByteArray f = fileBytes(w.profileFile(1));
  ASSERT_EQ(f.size(), kProfile);
  EXPECT_EQ(u16At(f, 860 + 71686), 1000);
}

TEST(TDMTest, RestoreCurrentProfileWritesOnlyItsFields) {
  World w;
  auto dm = w.start();
  ASSERT_FALSE(dm->SwitchToProfileGroup(2));
  ASSERT_FALSE(dm->SwitchToProfile(5));
  ASSERT_FALSE(dm->SwitchToProfile(-1));
  ASSERT_TRUE(dm->SwitchToProfile(3));
  QByteArray image(reinterpret_cast<const char*>(&dm->FCurrentProfileInfo), kProfile);
  for (int at = 860; at < 860 + 15 * 3772; ++at) image[at] = char(at * 7);
  image[82985] = 9;                                    // BREATH_SECOND
  image[86664 + 18732] = 3;                            // nMacroInfoCount
  std::memcpy(&dm->FCurrentProfileInfo, image.constData(), kProfile);
  dm->SaveBackToCurrentProfileInfo();
  dm->RestoreCurrentProfileInfoToDefault();
  const QByteArray after(reinterpret_cast<const char*>(&dm->FCurrentProfileInfo), kProfile);
  EXPECT_EQ(after.mid(82980, 3), QByteArray("\x00\x60\x60", 3));
  EXPECT_EQ(after.at(82985), 9);
  EXPECT_EQ(u16At(after, 86664 + 18732), 0);
  for (int b = 7; b <= 9; ++b) {
    const int at = 860 + b * 3772;
    EXPECT_EQ(after.mid(at, 3752), QByteArray(3752, '\0')) << "parameters of button " << b;
    EXPECT_EQ(after.mid(at + 3752, 20), image.mid(at + 3752, 20)) << "function of button " << b;
  }
  const int tail = 860 + 10 * 3772;
  EXPECT_EQ(after.mid(tail, 5 * 3772), image.mid(tail, 5 * 3772)) << "buttons 10..14";
  TMOUSEPROFILEINFO stored;
  dm->ReadProfileInfo(stored, 3);
  EXPECT_EQ(std::memcmp(&stored, after.constData(), kProfile), 0);
}

TEST(TDMTest, DefaultProfilesAreWhatAResetOfAnEmptyProfileMakes) {
  // Start-up puts ready-made default images into the stores; each must stay
  // byte for byte what the reset makes of an all-zero profile, colour included.
  World w;
  auto dm = w.start();
  for (int i = 0; i < 5; ++i) {
    const QByteArray made = fileBytes(w.profileFile(i + 1));
    ASSERT_EQ(made.size(), kProfile);
    ASSERT_TRUE(dm->SwitchToProfile(i));
    ASSERT_TRUE(dm->ImportCurrentProfileImage(QByteArray(kProfile, '\0')));
    dm->RestoreCurrentProfileInfoToDefault();
    EXPECT_EQ(dm->ProfileStore(i)->Stream(), made) << "profile " << i + 1;
  }
}

TEST(TDMTest, PartialRestoresKeepTheirDeliberateDifferences) {
  World w;
  auto dm = w.start();
  TMOUSECONFIGINFO& c = dm->FCurrentProfileInfo.ConfigInfo;
  c.CPILevel = 6;
  c.ApplyAccelaration = 1;
  c.CPIState[5] = TCPISTATE{1200, 1200, 1};
  dm->RestoreToDefaultCPISetting();
  EXPECT_EQ(c.CPILevel, 6);
  EXPECT_EQ(c.CPIState[5].X, 0);
  EXPECT_EQ(c.HWCPIState[1].X, 750);
  EXPECT_EQ(c.UseDiffentXY[0], 0);
  EXPECT_EQ(c.ApplyAccelaration, 0);
  c.LEDConfig = TLEDCONFIG{1, 2, 3, 4, 5, 6};
  dm->RestoreToDefaultLightAndReportAdvancedSetting();
  EXPECT_EQ(c.ApplyAccelaration, 1);
  EXPECT_EQ(c.FireKeySpeed, 5);
  EXPECT_EQ(c.LEDConfig.R, 255);
  EXPECT_EQ(c.LEDConfig.BREATH_SECOND, 6);
}

TEST(TDMTest, MissingProfileFolderIsMadeAndSavesReachIt) {
  World w;
  w.start();
  ASSERT_TRUE(QDir(w.docs + "/Profile").removeRecursively());
  auto dm = w.start();
  EXPECT_EQ(fileBytes(w.profileFile(1)).size(), kProfile);
  EXPECT_EQ(dm->CurrentStore()->FilePath(), w.docs + "/Profile/");
  dm->FCurrentProfileInfo.ConfigInfo.PointerSpeed = 3;
  dm->SaveBackToCurrentProfileInfo();
  ASSERT_TRUE(dm->SaveCurrentProfileInfoToFile());
  EXPECT_EQ(u16At(fileBytes(w.profileFile(1)), 860 + 71680), 3);
}

TEST(TDMTest, RebindingIsSeenByTheOtherModuleAndModeSaveKeepsIt) {
  World w;
  auto configurator = w.start();
  auto monitor = w.start();
  // The configurator binds profile 0 to another file and stores it.
  const QString other = w.docs + "/Profile/Other.pfd";
  ASSERT_TRUE(configurator->ChangeCurrentProfileFileNameAndPath(other));
  configurator->FCurrentProfileInfo.ConfigInfo.ReportRate = 500;
  ASSERT_TRUE(configurator->SaveCurrentProfileInfoToRegistry());
  ASSERT_TRUE(configurator->SaveProfileGroupSettingInfoToRegistry());

  // The mouse switches mode: the monitor stores only the mode.
  ASSERT_TRUE(monitor->SwitchToProfileGroup(1));
  ASSERT_TRUE(monitor->SaveProfileGroupIndexToRegistry());
  const QByteArray g = w.value("ProfileSettingGroup.pfd");
  EXPECT_EQ(int32At(g, 0), 1);
  EXPECT_EQ(g.mid(entryAt(0) + 4098, 20), utf16z("Other.pfd"));

  // The monitor reloads and reads the profile under its new name.
  ASSERT_TRUE(monitor->LoadProfileGroupSettingInfoFromRegistry());
  EXPECT_EQ(monitor->ProfileStore(0)->FileName(), "Other.pfd");
  ASSERT_TRUE(monitor->SwitchToProfileGroup(0));
  ASSERT_TRUE(monitor->LoadCurrentProfileInfoFromRegistry());
  EXPECT_EQ(monitor->FCurrentProfileInfo.ConfigInfo.ReportRate, 500);
}

TEST(TDMTest, NamesThatDoNotFitOrCollideAreRefused) {
  World w;
  auto dm = w.start();
  const QString folder = w.docs + "/Profile/";
  struct Case {
    QString path;
    bool ok;
  };
  const Case cases[] = {
      {folder + "abcdefghijklmnop.pfd", true},       // 20 characters
      {folder + "abcdefghijklmnopq.pfd", false},     // 21
      {folder + "PROFILE2.pfd", false},              // profile 1's file
      {folder + "allprofile.PFD", false},            // a settings value
      {folder + "ProfileSettingGroup.pfd", false},
      {"/" + QString(1100, 'd') + "/x.pfd", false},  // folder too long
  };
  for (const Case& c : cases) {
    const QByteArray before(reinterpret_cast<const char*>(&dm->FProfileSettingGroup), kGroup);
    EXPECT_EQ(dm->ChangeCurrentProfileFileNameAndPath(c.path), c.ok) << c.path.left(60).toStdString();
    if (!c.ok) {
      EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(&dm->FProfileSettingGroup), kGroup), before);
    }
  }
  EXPECT_EQ(dm->CurrentStore()->FileName(), "abcdefghijklmnop.pfd");
}

// Both programs start at once on empty folders: neither fails, and the
// result is whole.
// A profile prefix too long for the profile file names: the plain default
// names are used, and the start says so once, not once per profile.
TEST(TDMTest, TooLongProfilePrefixIsReportedOnce) {
  World w;
  QFile ini(QDir(w.program).filePath("config.ini"));
  ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
  ini.write("[options]\r\nprofilePrefix=" + QByteArray(40, 'p') + "\r\n");
  ini.close();

  // stderr into a pipe for the start, then back.
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  std::fflush(stderr);
  const int saved = ::dup(2);
  ::dup2(fds[1], 2);
  auto dm = w.start();
  std::fflush(stderr);
  ::dup2(saved, 2);
  ::close(saved);
  ::close(fds[1]);
  QByteArray err;
  char buf[4096];
  ssize_t n;
  while ((n = ::read(fds[0], buf, sizeof buf)) > 0) err.append(buf, n);
  ::close(fds[0]);

  EXPECT_EQ(err.count("too long"), 1) << err.toStdString();
  EXPECT_TRUE(QFile::exists(w.profileFile(5)));
}

TEST(TDMChild, Start) {
  const QString root = qEnvironmentVariable("MOUSE_TEST_DM_CHILD");
  if (root.isEmpty()) GTEST_SKIP() << "run by TwoProcessesStartTogether";
  auto store = platform::openSqliteRegistryStore(root + "/registry.sqlite");
  for (int round = 0; round < 20; ++round) {
    TDM dm(TDMEnvironment{store.get(), root + "/program", root + "/home/Documents"});
    const TStoreStatus st = dm.InitData();
    ASSERT_TRUE(st.Ok) << st.Error.toStdString();
    ASSERT_TRUE(dm.SaveBackAllProfileInfoToFile()) << "round " << round;
    ASSERT_TRUE(dm.SaveBackAllProfileInfoToRegistry());
  }
}

TEST(TDMTwoProcesses, TwoProcessesStartTogether) {
  QTemporaryDir root;
  QDir().mkpath(root.filePath("program"));
  int argc = 0;
  QCoreApplication app(argc, nullptr);
  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("MOUSE_TEST_DM_CHILD", root.path());
  child.setProcessEnvironment(env);
  child.setProcessChannelMode(QProcess::ForwardedChannels);
  child.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=TDMChild.Start"});
  ASSERT_TRUE(child.waitForStarted());
  auto store = platform::openSqliteRegistryStore(root.filePath("registry.sqlite"));
  for (int round = 0; round < 20; ++round) {
    TDM dm(TDMEnvironment{store.get(), root.filePath("program"), root.filePath("home/Documents")});
    const TStoreStatus st = dm.InitData();
    ASSERT_TRUE(st.Ok) << st.Error.toStdString();
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(dm.IsProfileLoaded(i)) << "round " << round << " profile " << i;
    ASSERT_TRUE(dm.SaveBackAllProfileInfoToFile());
  }
  ASSERT_TRUE(child.waitForFinished(60000));
  EXPECT_EQ(child.exitCode(), 0);
  for (int n = 1; n <= 5; ++n)
    EXPECT_EQ(QFileInfo(root.filePath("home/Documents/Profile/Profile" + QString::number(n) + ".pfd")).size(), kProfile);
}

// What could not be stored, said once per reason: failures are grouped by
// their reason as a value, whatever characters the names hold.
TEST(TStoreStatusTest, SummaryGroupsFailuresByTheirReason) {
  const QString busy = QStringLiteral("/home/u/.config/gaming-mouse/registry.sqlite: write: database is locked");
  struct Case {
    const char* name;
    std::vector<TStoreFailure> failures;
    QStringList skipped;
    QString summary;
  };
  const Case cases[] = {
      {"one store failing every value",
       {{"Profile1.pfd", busy}, {"Profile2.pfd", busy}, {"Profile1.pfd", busy}},
       {},
       "Not saved: Profile1.pfd, Profile2.pfd (" + busy + ")"},
      {"a folder whose name holds a colon",
       {{"/home/u/a: b/Profile1.pfd", "Permission denied"}, {"/home/u/a: b/Profile2.pfd", "Permission denied"}},
       {},
       "Not saved: /home/u/a: b/Profile1.pfd, /home/u/a: b/Profile2.pfd (Permission denied)"},
      {"reasons that name everything, and values never loaded",
       {{"", "no settings store"}, {"Profile3.pfd", "disk full"}, {"", "no settings store"}},
       {"Profile5.pfd"},
       "Not saved: Profile3.pfd (disk full)\nno settings store\nNot saved, never loaded: Profile5.pfd"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TStoreStatus status, part;
    for (const TStoreFailure& f : c.failures) part.Fail(f);
    part.Skipped = c.skipped;
    status.Merge(part);
    EXPECT_FALSE(status);
    EXPECT_EQ(status.Summary().toStdString(), c.summary.toStdString());
  }
  // The text for a log keeps every failure in order.
  TStoreStatus status;
  status.Fail(TProfileIOResult::error(QStringLiteral("/a: b/P.pfd"), QStringLiteral("no space")));
  status.Fail(QStringLiteral("no settings store"));
  EXPECT_EQ(status.Error.toStdString(), "/a: b/P.pfd: no space; no settings store");
  EXPECT_EQ(status.Failures.size(), 2);
}
