#include "FormSerializer.h"
#include "qt_test_app.h"
#include "uglobal.h"
#include "test_store.h"

#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

const QString kRoot = "\\Software\\Trevane\\Korvel";  // no trailing '\': ReadPlacement adds it
const std::string kFormKey = kKey + "fMain\\";

struct FormSerializerTest : ::testing::Test, TTestStore {
  FormSerializerTest() : TTestStore("fs") {
    TestApp();
    Screen = QGuiApplication::primaryScreen()->geometry().size();
  }

  // A form as the main window builds itself: named, fixed or sizeable, then the serializer,
  // which places it at once unless the case sets its handlers first.
  template <class TForm = QWidget>
  TForm* NewForm(bool sizeable, TSerializerOptions options = soSavePosition, bool read = true) {
    auto* form = new TForm;
    form->setObjectName("fMain");
    if (sizeable)
      form->resize(300, 200);
    else
      form->setFixedSize(269, 280);
    Serializer = new TFormSerializer(form, kRoot, *Reg);
    Serializer->Options = options;
    if (read) Serializer->ReadPlacement();
    return form;
  }
  std::optional<TRegValue> Stored(const std::string& name) {
    return TTestStore::Stored(name, kFormKey);
  }
  void Store(std::initializer_list<std::pair<const char*, int32_t>> values) {
    for (auto [name, value] : values) Reg->WriteDword(kFormKey, name, uint32_t(value));
  }

  QSize Screen;
  TFormSerializer* Serializer = nullptr;
};

// Destroys the native window while the widget lives on, as the platform may.
class TRecreatedForm : public QWidget {
public:
  void Recreate() {
    destroy();
    create();
  }
};

}  // namespace

TEST_F(FormSerializerTest, FirstStartCentresAndExitStoresPositionOnly) {
  QWidget* form = NewForm(false);
  EXPECT_EQ(Serializer->Root, kRoot + "\\");
  EXPECT_EQ(form->geometry(),
            QRect((Screen.width() - 269) / 2, (Screen.height() - 280) / 2, 269, 280));
  EXPECT_FALSE(form->isVisible());  // placed, not shown
  EXPECT_FALSE(Stored("left"));     // nothing written on reading
  form->show();
  form->move(40, 30);  // the frame; the client area, which is stored, lies within
  const QPoint client = form->geometry().topLeft();
  delete form;
  EXPECT_EQ(Stored("left"), Dword(client.x()));
  EXPECT_EQ(Stored("top"), Dword(client.y()));

  // Restoring puts the frame back where it was.
  form = NewForm(false);
  form->show();
  EXPECT_EQ(form->pos(), QPoint(40, 30));
  delete form;
  EXPECT_EQ(Stored("maximized"), Sz("0"));
  EXPECT_FALSE(Stored("width"));  // a fixed border keeps its size
  EXPECT_FALSE(Stored("height"));
}

TEST_F(FormSerializerTest, StoredPlacementIsAppliedAndSizeCutToTheScreen) {
  // Partly off screen: as stored.
  Store({{"left", -200}, {"top", 50}, {"width", Screen.width() + 500}, {"height", 150}});
  QWidget* form = NewForm(true);
  EXPECT_EQ(form->geometry(), QRect(-200, 50, Screen.width(), 150));
  delete form;
  EXPECT_EQ(Stored("left"), Dword(uint32_t(-200)));
  EXPECT_EQ(Stored("width"), Dword(Screen.width()));

  // Wholly off every screen (a monitor gone): centred as on a first start.
  Store({{"left", -2000 - Screen.width()}, {"width", 300}});
  form = NewForm(true);
  EXPECT_EQ(form->geometry(),
            QRect((Screen.width() - 300) / 2, (Screen.height() - 150) / 2, 300, 150));
  delete form;

  // A fixed form ignores stored sizes unless told to keep them.
  form = NewForm(false);
  EXPECT_EQ(form->size(), QSize(269, 280));
  delete form;
}

TEST_F(FormSerializerTest, DimensionAlwaysKeepsTheSizeOfAFixedForm) {
  QWidget* form = NewForm(false, soSavePosition | soSaveDimensionAlways);
  form->show();
  delete form;
  EXPECT_EQ(Stored("width"), Dword(269));
  EXPECT_EQ(Stored("height"), Dword(280));

  Store({{"width", 300}, {"height", 250}});
  form = NewForm(false, soSavePosition | soSaveDimensionAlways);
  EXPECT_EQ(form->size(), QSize(300, 250));
  EXPECT_EQ(form->minimumSize(), form->maximumSize());  // still not sizeable
  delete form;
}

TEST_F(FormSerializerTest, MaximizedOpensMaximizedOverTheStoredNormalRectangle) {
  Store({{"left", 20}, {"top", 25}, {"width", 320}, {"height", 240}});
  Reg->WriteString(kFormKey, "maximized", "1");
  QWidget* form = NewForm(true);
  form->show();
  EXPECT_TRUE(form->isMaximized());
  EXPECT_EQ(form->normalGeometry(), QRect(20, 25, 320, 240));
  delete form;
  EXPECT_EQ(Stored("maximized"), Sz("1"));
  EXPECT_EQ(Stored("left"), Dword(20));
  EXPECT_EQ(Stored("width"), Dword(320));
}

TEST_F(FormSerializerTest, EventsShareTheKeyAndAFailingHandlerStopsNothing) {
  std::vector<std::string> calls;
  QWidget* form = NewForm(false, soSavePosition, false);
  auto log = [&](const char* what) {
    return [&calls, what](TFormSerializer* sender, TRegistryIniFile& reg) {
      EXPECT_EQ(reg.KeyPath(), kFormKey);
      EXPECT_NE(sender, nullptr);
      calls.push_back(what);
    };
  };
  Serializer->OnBeforeRead = log("before read");
  Serializer->OnRead = [&](TFormSerializer*, TRegistryIniFile& reg) {
    calls.push_back("read");
    reg.WriteInteger("extra", 7);
  };
  Serializer->OnBeforeWrite = log("before write");
  Serializer->OnWrite = [&](TFormSerializer*, TRegistryIniFile& reg) {
    calls.push_back("write");
    reg.WriteBool("mine", true);
    throw std::runtime_error("handler failed");
  };
  Serializer->ReadPlacement();
  form->show();
  delete form;  // does not throw
  EXPECT_EQ(calls, (std::vector<std::string>{"before read", "read", "before write", "write"}));
  EXPECT_EQ(Stored("extra"), Dword(7));
  EXPECT_EQ(Stored("mine"), Sz("1"));  // written before the failure: kept
  EXPECT_EQ(Stored("maximized"), Sz("0"));
}

TEST_F(FormSerializerTest, WritesAgainAfterTheKeyWasDeletedAndOnRecreation) {
  auto* form = NewForm<TRecreatedForm>(false);
  form->show();
  form->setGeometry(11, 12, 269, 280);
  TGlobalSettings(*Reg).RestoreDefaults();  // deletes fMain with the rest
  EXPECT_FALSE(Reg->KeyExists(kFormKey));

  form->Recreate();
  EXPECT_EQ(Stored("left"), Dword(11));
  form->setGeometry(13, 14, 269, 280);
  form->Recreate();  // the new native window is watched as the first was
  EXPECT_EQ(Stored("left"), Dword(13));
  form->setGeometry(15, 16, 269, 280);
  delete form;
  EXPECT_EQ(Stored("left"), Dword(15));
  EXPECT_EQ(Stored("top"), Dword(16));
}

TEST_F(FormSerializerTest, NothingIsWrittenWithoutReadPlacementAndErrorsAreSwallowed) {
  QWidget* form = NewForm(false, soSavePosition, false);
  form->show();
  delete form;
  EXPECT_FALSE(Reg->KeyExists(kFormKey));

  WriteFileText(Dir / "file", "x");
  TRegistry bad((Dir / "file" / "registry.reg").string());
  form = new QWidget;
  form->setObjectName("fMain");
  auto* s = new TFormSerializer(form, kRoot, bad);
  s->ReadPlacement();  // reads find nothing: centred
  form->show();
  delete form;         // the write fails silently
}

TEST_F(FormSerializerTest, ExtremeStoredValuesGiveAWellFormedPlacement) {
  for (const int32_t left : {INT32_MAX, INT32_MAX - 100, INT32_MIN}) {
    SCOPED_TRACE(left);
    Store({{"left", left}, {"top", left}});
    QWidget* form = NewForm(false);
    const QRect placed = form->geometry();
    EXPECT_EQ(placed.size(), QSize(269, 280));
    EXPECT_LE(placed.left(), placed.right());
    EXPECT_LE(placed.top(), placed.bottom());
    delete form;
  }
}
