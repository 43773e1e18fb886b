// The main window of the desktop program shown offscreen for a test, with
// the dialog hook answering its dialogs, and what the GUI tests share.
#pragma once

#include "app/UParseWindow.h"
#include "app/main.h"
#include "support/TestDialogHook.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStackedWidget>
#include <QTest>
#include <QToolButton>
#include <functional>
#include <ostream>
#include <gtest/gtest.h>

// Texts in test failures as text, not as the bytes of a QString.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace quarvex::test {

inline const char* const kScene =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Document>\n"
    "<Placemark><name>Field</name><Polygon>\n"
    " <outerBoundaryIs><LinearRing><coordinates>0,0 40,0 40,40 0,40 0,0</coordinates></LinearRing></outerBoundaryIs>\n"
    " <innerBoundaryIs><LinearRing><coordinates>10,10 20,10 20,20 10,20 10,10</coordinates></LinearRing></innerBoundaryIs>\n"
    "</Polygon></Placemark>\n"
    "<Placemark><name>Road</name><LineString><coordinates>50,45 100,45 100,50</coordinates></LineString></Placemark>\n"
    "<Placemark><name>Well</name><Point><coordinates>75,20,0</coordinates></Point></Placemark>\n"
    "<Placemark><name>Gate</name><Point><coordinates>60,5</coordinates></Point></Placemark>\n"
    "</Document></kml>\n";

inline const char* const kSceneLog = "      Points: 2\n      Paths: 1\n      Polygons(outer): 1\n      Polygons (inner): 1\n\nEnd.";

template <class T>
T* Find(const QWidget& parent, const char* name)
{
    T* widget = parent.findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

// What the job window showed when its job had ended.
struct TJobSnapshot {
    int Page = -1;
    QString Caption, Label1, Label2, Start, End, Log;
    bool CloseVisible = false;
};

// Waits for the job window's job to end, records the window, then closes it
// with its Close button.
inline std::function<bool(QDialog&)> CloseJobWindow(TJobSnapshot& snapshot)
{
    return [&snapshot](QDialog& window) {
        if (window.objectName() != "frParse")
            return window.done(0), true;
        if (!static_cast<TfrParse&>(window).JobEnded())
            return false;
        snapshot.Page = Find<QStackedWidget>(window, "Notebook1")->currentIndex();
        snapshot.Caption = window.windowTitle();
        snapshot.Label1 = Find<QLabel>(window, "Label1")->text();
        snapshot.Label2 = Find<QLabel>(window, "Label2")->text();
        snapshot.Start = Find<QLabel>(window, "LabelStart")->text();
        snapshot.End = Find<QLabel>(window, "LabelEnd")->text();
        snapshot.Log = Find<QPlainTextEdit>(window, "Memo1")->toPlainText();
        QToolButton* close = Find<QToolButton>(window, "SpeedButton1");
        snapshot.CloseVisible = close->isVisible();
        QTest::mouseClick(close, Qt::LeftButton);
        return true;
    };
}

inline int CountColour(const QImage& image, QRgb colour)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += (image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF);
    return n;
}

inline QImage MapPicture(const TfrMain& window)
{
    return window.findChild<QWidget*>("Image1")->grab().toImage();
}

class Gui : public ::testing::Test {
protected:
    void SetUp() override
    {
        window.WorkFolder = work.File("ztmp/");
        window.resize(676, 466);
        window.show();
        QApplication::processEvents();
    }
    std::string Scene(const char* name = "scene.kml")
    {
        WriteText(files.File(name), kScene);
        return files.File(name);
    }
    void Open(const std::string& path)
    {
        hook.OpenAnswers.push_back(QString::fromStdString(path));
        hook.OnModal = CloseJobWindow(job);
        Find<QToolButton>(window, "SpeedButton1")->click();
        QApplication::processEvents();
    }
    std::vector<std::string> MessageTexts() const
    {
        std::vector<std::string> texts;
        for (const TShownMessage& m : hook.Messages)
            texts.push_back(m.Text);
        return texts;
    }
    struct TCheckState {
        bool enabled, checked;
        bool operator==(const TCheckState&) const = default;
    };
    std::vector<TCheckState> Checks() const
    {
        std::vector<TCheckState> states;
        for (const char* name : {"CheckPoint", "CheckPath", "CheckPolyIn", "CheckPolyOut"}) {
            const QCheckBox* box = window.findChild<QCheckBox*>(name);
            states.push_back({box->isEnabled(), box->isChecked()});
        }
        return states;
    }

    TScratchDir work, files;
    TTestDialogHook hook;
    TJobSnapshot job;
    TfrMain window;
};


} // namespace quarvex::test
