#include "frmMainKR.h"

#include "busyCall.h"
#include "checkRules.h"
#include "controls.h"
#include "dialogs.h"
#include "frmReceiveKR.h"
#include "frmSetKR.h"
#include "frmTransKR.h"
#include "iniKeys.h"
#include "mailTransport.h"
#include "notificationSound.h"
#include "shellRoutines.h"
#include "trayIcon.h"
#include "twips.h"
#include "windowPlacement.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace korimo {

namespace {

// A button at its place in twips.
QPushButton* placedButton(QWidget* parent, const QString& caption, const QString& tip, QRect twips) {
    QPushButton* b = makeButton(parent, caption, tip);
    b->setGeometry(twipsRect(*parent, twips.x(), twips.y(), twips.width(), twips.height()));
    return b;
}

} // namespace

frmMainKR::frmMainKR(const ProgramFolders& programFolder, MailTransport& transport, Dialogs& dialogs, QWidget* parent)
    : QWidget(parent), programFolder_(programFolder), ini_(programFolder.settings), transport_(transport),
      dialogs_(dialogs), sound_(std::make_unique<NotificationSound>()), shell_(std::make_unique<XdgShellRoutines>()),
      quitAtOnce_([] { QCoreApplication::exit(0); }) {
    buildControls();
    setTrayIcon(std::make_unique<TrayIcon>());

    connect(Command1, &QPushButton::clicked, this, &frmMainKR::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &frmMainKR::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &frmMainKR::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &frmMainKR::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &frmMainKR::Command5_Click);
    connect(Command6, &QPushButton::clicked, this, &frmMainKR::Command6_Click);
    connect(Timer1, &QTimer::timeout, this, &frmMainKR::Timer1_Timer);
    connect(Timer2, &QTimer::timeout, this, &frmMainKR::Timer2_Timer);
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        connect(app, &QGuiApplication::focusWindowChanged, this, &frmMainKR::focusWindowChanged);

    makers_.send = [this]() -> QWidget* {
        auto* w = new frmTransKR(programFolder_, transport_, dialogs_, *this);
        w->Form_Load();
        return w;
    };
    makers_.receive = [this]() -> QWidget* {
        auto* w = new frmReceiveKR(programFolder_, transport_, dialogs_, *this);
        w->Form_Load();
        return w;
    };
    makers_.settings = [this]() -> QWidget* {
        auto* w = new frmSetKR(programFolder_, dialogs_, *this);
        w->Form_Load();
        return w;
    };
}

frmMainKR::~frmMainKR() {
    // Windows still open when the program ends at once go without their unload handling.
    for (const QPointer<QWidget>& w : {sendWindow_, receiveWindow_, settingsWindow_})
        delete w.data();
}

void frmMainKR::setTrayIcon(std::unique_ptr<TrayIcon> tray) {
    if (tray_)
        tray_->remove();
    tray_ = std::move(tray);
    connect(tray_.get(), &TrayIcon::leftReleased, this, &frmMainKR::trayLeftReleased);
    connect(tray_.get(), &TrayIcon::rightReleased, this, &frmMainKR::trayRightReleased);
}

void frmMainKR::setSound(std::unique_ptr<NotificationSound> sound) {
    sound_ = std::move(sound);
}

void frmMainKR::setShell(std::unique_ptr<ShellRoutines> shell) {
    shell_ = std::move(shell);
}

void frmMainKR::buildControls() {
    setWindowTitle(QStringLiteral("こりも"));
    setWindowIcon(QIcon(QStringLiteral(":/korimo/korimo.png")));
    setFixedSize(twipsToPixelsX(*this, 6045), twipsToPixelsY(*this, 930));

    // Created in tab order.
    Command1 = placedButton(this, QStringLiteral("開始"), QStringLiteral("タスクトレイに常駐しチェックを開始します"),
                            QRect(5040, 120, 855, 735));
    Command2 = placedButton(this, QStringLiteral("手動チェック"), QStringLiteral("メールボックスをチェックします"),
                            QRect(2280, 480, 1215, 375));
    Command3 = placedButton(this, QStringLiteral("メーラー起動"), QStringLiteral("指定したメーラーを起動します"),
                            QRect(960, 480, 1215, 375));
    Command4 = placedButton(this, QStringLiteral("送信"), QStringLiteral("簡易送信します"), QRect(3600, 120, 615, 735));
    Command5 = placedButton(this, QStringLiteral("受信"), QStringLiteral("受信します"), QRect(4320, 120, 615, 735));
    Command6 = placedButton(this, QStringLiteral("設定"), QStringLiteral("送受信・動作等の設定をします"),
                            QRect(120, 600, 735, 255));

    Label1 = new QLabel(QStringLiteral("周期(分)"), this);
    Label1->setGeometry(twipsRect(*this, 0, 0, 735, 255));

    Text1 = new QLineEdit(this);
    Text1->setGeometry(twipsRect(*this, 120, 240, 495, 270));

    Label2 = new QLabel(this);
    Label2->setTextFormat(Qt::PlainText);
    Label2->setGeometry(twipsRect(*this, 840, 120, 2655, 255));
    QFont statusFont;
    // The Japanese Gothic the status line was drawn in, then its metric-compatible free fallbacks.
    statusFont.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic"),
                            QStringLiteral("IPAexGothic"), QStringLiteral("Noto Sans CJK JP")});
    statusFont.setPointSizeF(11.25);
    Label2->setFont(statusFont);

    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Command3);
    setTabOrder(Command3, Command4);
    setTabOrder(Command4, Command5);
    setTabOrder(Command5, Command6);
    setTabOrder(Command6, Text1);

    Timer1 = new QTimer(this);
    Timer2 = new QTimer(this);
}

void frmMainKR::Form_Load() {
    Command1->setText(QStringLiteral("チェック\n開　　始"));
    // Folders the program keeps beside itself; a failure to create one is no reason not to start.
    for (const QString& folder : {attachedFilesDefault(programFolder_), soundFolder(programFolder_)})
        if (!QFileInfo(folder).isDir())
            QDir().mkdir(folder);
    LoadSettings();
    if (anyServer())
        Command1_Click();
    else
        show();
}

void frmMainKR::LoadSettings() {
    placement_.restore(*this, QPoint(readInt(ini_, keys::MainLeft), readInt16(ini_, keys::MainTop)), size());
    Text1->setText(QString::number(readInt(ini_, keys::MainPeriod)));
    NoticeIconPath = readString(ini_, keys::NoticeIcon, noticeIconDefault(programFolder_));
    boxes_ = readMailboxes(ini_);
    ExcludeSenders.clear();
    ExcludeSubjects.clear();
    for (int i = 0; i < keys::ExcludeSenders.count; ++i) {
        ExcludeSenders << readString(ini_, keys::ExcludeSenders, i);
        ExcludeSubjects << readString(ini_, keys::ExcludeSubjects, i);
    }
    LastCount = readInt16(ini_, keys::LastCount);
    MailerPath = readString(ini_, keys::MailerPath);
    ShowSeconds = readInt16(ini_, keys::ShowSeconds);
    SoundOn = static_cast<quint8>(readInt(ini_, keys::SoundOn));
    // The main window reads a missing key as "": only exactly "True" chooses the beep.
    WavSound = readString(ini_, keys::BeepOption, QString()) == u"True" ? 0 : 1;
}

void frmMainKR::SaveSettings() {
    writeValue(ini_, keys::LastCount, LastCount);
    const QPoint twips = placement_.twipsToSave(*this);
    writeValue(ini_, keys::MainLeft, twips.x());
    writeValue(ini_, keys::MainTop, twips.y());
    writeValue(ini_, keys::MainPeriod, Text1->text());
    // A settings file that exists but cannot be read is left alone by every window: say so once.
    if (const QString why = IniFile::takeUnreadableNotice(); !why.isEmpty())
        dialogs_.message(this, why);
}

void frmMainKR::DisableControls() {
    for (QWidget* w :
         std::initializer_list<QWidget*>{Text1, Command1, Command2, Command3, Command4, Command5, Command6})
        w->setEnabled(false);
}

void frmMainKR::EnableControls() {
    for (QWidget* w :
         std::initializer_list<QWidget*>{Text1, Command1, Command2, Command3, Command4, Command5, Command6})
        w->setEnabled(true);
}

void frmMainKR::closeEvent(QCloseEvent* event) {
    // Form_QueryUnload: while a notification is on screen only the program itself may close the window.
    if (mode_.place == Place::Announcing && !mode_.endingFromOutside) {
        event->ignore();
        return;
    }
    // A close asked for during a check is carried out when the check is over.
    if (deferDuringCheck(mode_, Deferred::Close)) {
        event->ignore();
        return;
    }
    // Form_Unload.
    SaveSettings();
    mode_ = next(mode_, MainEvent::Unload);
    event->accept();
    QMetaObject::invokeMethod(this, &frmMainKR::endWhenNoWindowLeft, Qt::QueuedConnection);
}

void frmMainKR::endWhenNoWindowLeft() {
    // Hiding the window in tray mode, or closing another window, never ends the program; an ordinary
    // end from outside leaves the loop itself.
    if (!mode_.unloaded || mode_.endingFromOutside)
        return;
    for (const QPointer<QWidget>& w : {sendWindow_, receiveWindow_, settingsWindow_})
        if (w)
            return; // its end looks again (openWindow)
    quitAtOnce_();
}

void frmMainKR::endOrdinarily() {
    if (mode_.endingFromOutside)
        return;
    mode_ = next(mode_, MainEvent::EndFromOutside);
    endDeadline_ = QDeadlineTimer(kEndWaitMs);
    continueEnding();
}

void frmMainKR::continueEnding() {
    // A question or file dialog would wait for an answer that no one will give: it is cancelled, and
    // the code that asked goes on as after "No".
    if (QWidget* modal = QApplication::activeModalWidget()) {
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
        QTimer::singleShot(0, this, &frmMainKR::continueEnding);
        return;
    }
    const bool midCall = busyCallDepth() > 0;
    if (midCall && !endDeadline_.hasExpired()) {
        QTimer::singleShot(20, this, &frmMainKR::continueEnding);
        return;
    }
    Timer1->stop();
    Timer2->stop();
    // Each open window closes as its own "終了" would close it, writing its section.
    if (auto* receive = qobject_cast<frmReceiveKR*>(receiveWindow_.data()))
        receive->Command2_Click();
    for (const QPointer<QWidget>& w : {sendWindow_, receiveWindow_, settingsWindow_})
        if (w)
            w->close();
    if (midCall) {
        // A mail call that did not end in time is abandoned with the process: a POP3 server commits
        // nothing without QUIT, and every settings write has been made in full.
        SaveSettings();
        std::fflush(nullptr);
        ::_exit(0);
    }
    close();
    if (!mode_.unloaded)
        SaveSettings();
    quitAtOnce_();
}

void frmMainKR::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Showing the window (by the program, not restoring it from the task bar) activates it. Handled
    // after the code that showed it has finished, and without waiting for the desktop to give the
    // window the focus, which a bare X server or a focus-stealing guard may never do.
    if (!event->spontaneous() && !isMinimized())
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (!isVisible() || isMinimized())
                    return;
                otherFormHadFocus_ = false;
                Form_Activate();
            },
            Qt::QueuedConnection);
}

void frmMainKR::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // Tray mode without a notification area: the user bringing the minimised window back is what the
    // left button on the icon would have done.
    if (event->type() == QEvent::WindowStateChange && !showingByCode_ && mode_.place == Place::Tray &&
        mode_.minimisedForTray && isVisible() && !isMinimized())
        QMetaObject::invokeMethod(this, &frmMainKR::trayLeftReleased, Qt::QueuedConnection);
}

void frmMainKR::focusWindowChanged(QWindow* now) {
    // The focus going nowhere (another application, or a window closing) changes nothing here.
    if (!now)
        return;
    QWidget* form = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->windowHandle() == now)
            form = w;
    // Message boxes, file dialogs and popup menus are not windows of their own for this purpose.
    if (!form || qobject_cast<QDialog*>(form) || form->windowType() == Qt::Popup || form->windowType() == Qt::ToolTip)
        return;
    if (form != this) {
        otherFormHadFocus_ = true;
        return;
    }
    // The focus came back from another window of the program: an activation.
    if (std::exchange(otherFormHadFocus_, false))
        Form_Activate();
}

void frmMainKR::Form_Activate() {
    if (mode_.place == Place::Announcing || mode_.checking)
        return;
    CheckMailboxes();
}

bool frmMainKR::anyServer() const {
    return std::any_of(boxes_.begin(), boxes_.end(), [](const Mailbox& b) { return !b.server.isEmpty(); });
}

void frmMainKR::loadIcon(const QString& path) {
    // A missing or unreadable icon file keeps the picture the window has.
    if (path.isEmpty() || !QFileInfo(path).isFile() || !QImageReader(path).canRead())
        return;
    const QIcon icon(path);
    if (icon.isNull())
        return;
    setWindowIcon(icon);
    iconPath_ = path;
}

void frmMainKR::CheckMailboxes() {
    if (mode_.checking)
        return; // never two checks at once
    mode_ = next(mode_, MainEvent::CheckBegins);
    // Disabling the controls takes the focus from them; it goes back where it was afterwards.
    const QPointer<QWidget> hadFocus = focusWidget();
    Label2->setText(checkingStatusText());
    DisableControls();

    QList<MailOutcome<Listing>> listings;
    if (anyServer()) {
        // The listing runs on a worker thread; meanwhile the window keeps painting its status and
        // disabled controls, and user input waits.
        const QString folder = dataFolder(programFolder_);
        MailTransport& transport = transport_;
        const QList<Mailbox> boxes = boxes_;
        try {
            listings = busyCall([&transport, boxes, folder] { return transport.listAll(boxes, folder); });
        } catch (const std::exception& e) {
            listings = QList<MailOutcome<Listing>>(
                boxes.size(), MailError{MailErrorKind::Protocol, QString::fromLocal8Bit(e.what())});
        } catch (...) {
            listings = QList<MailOutcome<Listing>>(boxes.size(), MailError{});
        }
    }
    const CheckTally tally = tallyCheck(boxes_, listings, ExcludeSubjects, ExcludeSenders);
    // Failed mailboxes are named in the status line's tooltip until they next answer.
    failures_.update(tally, listings);

    Label2->setText(checkStatusText(tally.total));
    Label2->setToolTip(failureToolTip(failures_.entries())); // escaped there
    EnableControls();
    if (hadFocus && hadFocus->isEnabled() && !focusWidget())
        hadFocus->setFocus();

    const qint16 counted = tally.counted();
    if (decideAfterCheck(counted, LastCount, mode_.place == Place::Tray) == CheckDecision::Announce)
        announce();
    else
        loadIcon(defaultIconPath(programFolder_));
    LastCount = counted;

    mode_ = next(mode_, MainEvent::CheckEnds);
    if (mode_.deferred != 0)
        QMetaObject::invokeMethod(this, &frmMainKR::runDeferred, Qt::QueuedConnection);
}

void frmMainKR::runDeferred() {
    if (mode_.checking)
        return; // the check that is running now hands them on when it ends
    if (takeDeferred(mode_, Deferred::Tick) && Timer1->isActive())
        Timer1_Timer();
    if (takeDeferred(mode_, Deferred::AnnouncementTick) && Timer2->isActive())
        Timer2_Timer();
    if (takeDeferred(mode_, Deferred::LeftButton))
        trayLeftReleased();
    if (takeDeferred(mode_, Deferred::RightButton))
        trayRightReleased();
    if (takeDeferred(mode_, Deferred::Close))
        close();
}

void frmMainKR::Timer1_Timer() {
    if (deferDuringCheck(mode_, Deferred::Tick))
        return;
    followTrayHost();
    ++CheckTicks;
    if (timedCheckDue(CheckTicks, Text1->text())) {
        CheckMailboxes();
        CheckTicks = 0;
    }
}

void frmMainKR::followTrayHost() {
    if (mode_.place != Place::Tray)
        return;
    if (mode_.minimisedForTray && tray_->available()) {
        // A notification area appeared: use it from now on.
        tray_->add(trayPicture_, trayTip_);
        mode_ = next(mode_, MainEvent::TrayHostAppeared);
        showingByCode_ = true;
        hide();
        showingByCode_ = false;
    } else if (!mode_.minimisedForTray && !tray_->available()) {
        // The notification area went away: never leave the program unreachable.
        tray_->remove();
        mode_ = next(mode_, MainEvent::TrayHostGone);
        showingByCode_ = true;
        showMinimized();
        showingByCode_ = false;
    }
}

void frmMainKR::Command1_Click() {
    if (!anyServer()) {
        dialogs_.message(this, QStringLiteral("設定を行ってください"));
        return;
    }
    trayPicture_ = windowIcon();
    trayTip_ = trayTipText(Text1->text());
    showingByCode_ = true;
    if (tray_->available()) {
        tray_->add(trayPicture_, trayTip_);
        mode_ = next(mode_, MainEvent::EnterTray);
        hide();
    } else {
        mode_ = next(mode_, MainEvent::EnterTrayMinimised);
        showMinimized();
    }
    showingByCode_ = false;
    Timer1->start(tickMs_);
    CheckMailboxes();
}

void frmMainKR::RemoveTrayIcon() {
    tray_->remove();
    Timer1->stop();
}

void frmMainKR::announce() {
    if (SoundOn == 1) {
        if (WavSound == 0)
            sound_->beep();
        else
            sound_->playWav(readString(ini_, keys::WavFile)); // read anew at every announcement
    }
    mode_ = next(mode_, MainEvent::Announce);
    DisableControls();
    showingByCode_ = true;
    placement_.keepOnScreen(*this); // an announcement on a monitor since unplugged would go unseen
    showNormal();
    raise();
    showingByCode_ = false;
    Timer2->start(tickMs_);
    loadIcon(NoticeIconPath);
    RemoveTrayIcon();
}

void frmMainKR::Timer2_Timer() {
    if (deferDuringCheck(mode_, Deferred::AnnouncementTick))
        return;
    ++ShowTicks;
    if (notificationOver(ShowTicks, ShowSeconds)) {
        EnableControls();
        ShowTicks = 0;
        Timer2->stop();
        mode_ = next(mode_, MainEvent::AnnouncementOver);
        Command1_Click();
    }
}

void frmMainKR::trayLeftReleased() {
    if (deferDuringCheck(mode_, Deferred::LeftButton) || mode_.place != Place::Tray)
        return;
    mode_ = next(mode_, MainEvent::ShowWindow);
    loadIcon(defaultIconPath(programFolder_));
    showingByCode_ = true;
    placement_.keepOnScreen(*this);
    showNormal();
    raise();
    activateWindow();
    showingByCode_ = false;
    RemoveTrayIcon();
}

void frmMainKR::trayRightReleased() {
    if (deferDuringCheck(mode_, Deferred::RightButton) || mode_.place != Place::Tray)
        return;
    mode_ = next(mode_, MainEvent::LeaveTray);
    RemoveTrayIcon();
    quitAtOnce_();
}

void frmMainKR::Command2_Click() {
    CheckMailboxes();
    Command1->setFocus();
}

void frmMainKR::Command3_Click() {
    if (MailerPath.isEmpty()) {
        dialogs_.message(this, QStringLiteral("メーラーが設定されていません"));
        return;
    }
    if (shell_->fileExists(MailerPath) == 0) {
        dialogs_.message(this, QStringLiteral("メーラーが存在しません"));
        return;
    }
    // From here on a failure ends the command silently.
    Command2->setFocus();
    showingByCode_ = true;
    showMinimized();
    showingByCode_ = false;
    Label2->setText(QStringLiteral("手動チェックを行ってください"));
    shell_->startProgram(MailerPath);
}

void frmMainKR::openWindow(QPointer<QWidget>& slot, const std::function<QWidget*()>& make) {
    showingByCode_ = true;
    showMinimized();
    showingByCode_ = false;
    if (!slot && make) {
        slot = make();
        if (slot) // every window goes when closed; the last one to go may end the program
            connect(slot, &QObject::destroyed, this, &frmMainKR::endWhenNoWindowLeft, Qt::QueuedConnection);
    }
    if (!slot)
        return;
    slot->setWindowState(slot->windowState() & ~Qt::WindowMinimized);
    slot->show();
    slot->raise();
    slot->activateWindow();
}

void frmMainKR::Command4_Click() {
    openWindow(sendWindow_, makers_.send);
}
void frmMainKR::Command5_Click() {
    openWindow(receiveWindow_, makers_.receive);
}
void frmMainKR::Command6_Click() {
    openWindow(settingsWindow_, makers_.settings);
}

void frmMainKR::restoreNormal() {
    if (mode_.place == Place::Tray)
        return; // waiting in the tray (or minimised in its place): stay there
    showingByCode_ = true;
    if (isVisible())
        showNormal();
    else
        setWindowState(windowState() & ~Qt::WindowMinimized);
    showingByCode_ = false;
}

void frmMainKR::setStatusLine(const QString& text) {
    Label2->setText(text);
}

void frmMainKR::focusStartButtonIfShown() {
    if (mode_.place == Place::Tray || !isVisible())
        return;
    activateWindow();
    Command1->setFocus();
}

} // namespace korimo
