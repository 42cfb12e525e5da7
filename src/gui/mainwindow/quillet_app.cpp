#include "gui/mainwindow/quillet_app.h"

#include <cstdio>

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "gui/mainwindow/library_names.h"
#include "gui/resources.h"
#include "gui/text.h"
#include "gui/toolwindows/key_mouse_status.h"
#include "gui/toolwindows/macro_debug.h"

namespace quillet::gui {

namespace {

const char* const kDefaultLibraryName = "macro.m";
const char* const kDemoResource = ":/examples/demo.m";

} // namespace

QString WriteDemoLibraryIfMissing(const std::string& cp949Name) {
    if (cp949Name != kDefaultLibraryName) return {};
    const QString path = QString::fromLatin1(kDefaultLibraryName);
    const QFileInfo info(path);
    // A dangling link counts as present: writing would create its target somewhere else.
    if (info.exists() || info.isSymLink()) return {};

    InitGuiResources();
    QFile demo(QString::fromLatin1(kDemoResource));
    if (!demo.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = demo.readAll();
    QSaveFile out(path);
    if (bytes.isEmpty() || !out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit())
        return {};
    return Text("처음 시작이라 예제 매크로 파일 \"%1\"을(를) 만들었습니다. 실행 모드로 바꾸면 목록에 "
                             "매크로마다 시작 키가 보입니다.")
        .arg(path);
}

CQuilletApp::CQuilletApp(platform::Platform platform, AppOptions options)
    : platform_(platform), options_(std::move(options)),
      settings_(std::make_unique<CAppIni>(options_.iniPath.empty() ? DefaultIniPath() : options_.iniPath, false)) {}

CQuilletApp::~CQuilletApp() {
    if (started_) Shutdown();
}

void CQuilletApp::Log(const QString& line) const {
    if (options_.log) {
        options_.log(line);
        return;
    }
    const QByteArray text = line.toLocal8Bit();
    std::fprintf(stderr, "quillet: %s\n", text.constData());
    std::fflush(stderr);
}

void CQuilletApp::Start() {
    if (started_) return;
    started_ = true;
    // The settings were loaded when this object was made. The engine seeds its random numbers from the clock.

    // A 1 ms timer that does nothing keeps the system timer resolution raised until the end. Only Windows has a
    // process-wide resolution to raise; elsewhere running it would only cost a thread waking 1000 times a second.
    resolutionTimer_ = std::make_unique<CMmTimer>(platform_.clock, counter_);
    resolutionTimer_->period = 1;
#ifdef _WIN32
    resolutionTimer_->Start();
#endif

    InitGuiResources();

    QString notice;
    if (options_.writeDemoLibrary) notice = WriteDemoLibraryIfMissing(settings_->macroFileName);

    loop_ = std::make_unique<QtEventLoop>();
    session_ = std::make_unique<Session>(platform_, *settings_, counter_, *loop_);
    window_ = std::make_unique<CQuilletDlg>(*session_, options_.version);
    connect(window_.get(), &QDialog::finished, this, [this] {
        windowClosed_ = true;
        emit mainWindowClosed();
    });
    if (!notice.isEmpty()) {
        window_->ShowNotice(notice);
        Log(QStringLiteral("first start: wrote the demo library %1 in %2")
                .arg(FromCp949(settings_->macroFileName), QDir::currentPath()));
    }
    window_->ShowAtStart();
    QCoreApplication::instance()->installEventFilter(this);
}

bool CQuilletApp::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Quit && watched == QCoreApplication::instance() && window_ && !windowClosed_)
        RequestShutdown(QStringLiteral("the desktop session ends: ending as the exit button does"));
    return false;
}

int CQuilletApp::Exec() {
    if (!started_) Start();
    connect(this, &CQuilletApp::mainWindowClosed, QCoreApplication::instance(), &QCoreApplication::quit,
            Qt::QueuedConnection);
    if (!windowClosed_) QCoreApplication::exec();
    return Shutdown() ? 0 : 1;
}

void CQuilletApp::RequestShutdown(const QString& why) {
    if (!window_ || shutDown_) return;
    QString line = why;
    if (window_->modified())
        line += QStringLiteral("; the changed macros were not saved to %1 (nobody was asked)")
                    .arg(FromCp949(settings_->macroFileName));
    if (!line.isEmpty()) Log(line);
    // Input that came before the request (a toggle key pressed just before it) is handled first: the monitor
    // posts what it has, and the posted input is handled now, in order.
    if (!flushingInput_ && session_) {
        flushingInput_ = true;
        session_->FlushInput();
        flushingInput_ = false;
    }
    if (window_ && !shutDown_) window_->CloseWithoutQuestion();
}

bool CQuilletApp::SaveSettingsNow() {
    if (window_ && !window_->destroyed()) {
        const QPoint p = window_->pos();
        settings_->windowSX = p.x();
        settings_->windowSY = p.y();
        if (const QWidget* w = window_->macroDebugWindow()) {
            settings_->debugSX = w->pos().x();
            settings_->debugSY = w->pos().y();
        }
        if (const QWidget* w = window_->keyMouseStatusWindow()) {
            settings_->statusSX = w->pos().x();
            settings_->statusSY = w->pos().y();
        }
    }
    const bool ok = settings_->Transfer(CAppIni::Save);
    if (!ok) Log(QStringLiteral("could not write the settings to %1").arg(QString::fromStdString(settings_->path())));
    return ok;
}

bool CQuilletApp::ShowAndRaiseMainWindow() {
    if (!window_ || windowClosed_ || shutDown_ || window_->destroyed()) return false;
    window_->RestoreWindow();
    return true;
}

bool CQuilletApp::Shutdown() {
    if (shutDown_) return true;
    shutDown_ = true;
    emit shuttingDown();
    if (window_) {
        window_->Destroy();
        window_.reset();
    }
    if (session_) session_->End(HeldInput::Release);
    session_.reset();
    loop_.reset();
    // The pictures are Qt's shared images and go with the application.
    if (resolutionTimer_) {
        resolutionTimer_->Stop();
        resolutionTimer_.reset();
    }
    const bool ok = settings_->Transfer(CAppIni::Save);
    if (!ok) Log(QStringLiteral("could not write the settings to %1").arg(QString::fromStdString(settings_->path())));
    return ok;
}

} // namespace quillet::gui
