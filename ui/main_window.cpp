#include "main_window.h"

#include <stdexcept>
#include <utility>

#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>

#include "design_label.h"
#include "home_page.h"
#include "main_window_design.h"
#include "picture_box.h"
#include "player_host.h"
#include "url_box_events.h"

namespace velmora::ui {
namespace {

QString buttonName(playback::TransportButton button) {
    switch (button) {
        case playback::TransportButton::C2:
            return QStringLiteral("C2");
        case playback::TransportButton::Command2:
            return QStringLiteral("Command2");
        case playback::TransportButton::Command3:
            return QStringLiteral("Command3");
    }
    throw std::invalid_argument("unknown transport button");
}

}  // namespace

MainWindow::MainWindow(const PlayerFactory& createPlayer, AboutWindow& about)
    : about_(about), notifier_(this), boundary_(notifier_) {
    setCentralWidget(new QWidget);
    buildMenu();
    controls_ = buildWindow(*this, *centralWidget(), mainWindowDesign());
    playerHost_ = controls_.get<PlayerHost>("WindowsMediaPlayer1");
    urlBox_ = controls_.get<QLineEdit>("Text1");
    statusLabel_ = controls_.get<QLabel>("Label2");
    exposeAsStatusBar(*statusLabel_);
    // Screen readers name the box after the caption beside it.
    urlBox_->setAccessibleName(controls_.get<QLabel>("Label3")->text());

    playerHost_->install(createPlayer(kMainWindowPlayerSettings));
    playback::Player& player = playerHost_->player();
    transport_.emplace(player, *this);
    urlRules_.emplace(*this, *transport_);
    notices_.emplace(notifier_);
    wireControls();
    player.setListener(this);

    urlBox_->setFocus();
}

MainWindow::~MainWindow() {
    // The player goes before the rules it reports to.
    playerHost_->release();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    notifier_.dismissAll();
    QMainWindow::closeEvent(event);
}

void MainWindow::buildMenu() {
    // The item must stay in the window, where the client area is measured from.
    menuBar()->setNativeMenuBar(false);
    QAction* aboutItem = menuBar()->addAction(QString::fromUtf8(kAboutMenuItem));
    aboutItem->setObjectName(QString::fromUtf8(kAboutMenuItem));
    connect(aboutItem, &QAction::triggered, this,
            [this] { boundary_.run([this] { about_.show(); }); });
}

void MainWindow::wireControls() {
    const auto onClick = [this](const QString& name, playback::TransportAction action) {
        connect(controls_.get<QPushButton>(name), &QPushButton::clicked, this,
                [this, action] { perform(action); });
    };
    onClick("Command1", playback::TransportAction::Play);
    onClick("C2", playback::TransportAction::Pause);
    onClick("Command2", playback::TransportAction::Continue);
    onClick("Command3", playback::TransportAction::Stop);

    new UrlBoxEvents(
        *urlBox_,
        [this](int code) {
            // A key whose handler failed is consumed: the rule stopped before
            // deciding to pass it on.
            int passOn = 0;
            boundary_.run([&] { passOn = urlRules_->keyPress(code); });
            return passOn;
        },
        [this] { boundary_.run([this] { urlRules_->click(); }); });

    connect(controls_.get<PictureBox>("Picture1"), &PictureBox::clicked, this,
            [this] { boundary_.run(openHomePage); });
}

void MainWindow::perform(playback::TransportAction action) {
    boundary_.run([this, action] {
        switch (action) {
            case playback::TransportAction::Play:
                transport_->play(urlBox_->text().toStdString());
                break;
            case playback::TransportAction::Pause:
                transport_->pause();
                break;
            case playback::TransportAction::Continue:
                transport_->continuePlayback();
                break;
            case playback::TransportAction::Stop:
                transport_->stop();
                break;
        }
    });
}

void MainWindow::playAddress(const std::string& url) {
    setText(url);
    perform(playback::TransportAction::Play);
}

bool MainWindow::isPauseEnabled() const {
    return controls_.get(buttonName(playback::TransportButton::C2))->isEnabled();
}

playback::Player& MainWindow::player() { return playerHost_->player(); }

void MainWindow::setButtonEnabled(playback::TransportButton button, bool enabled) {
    controls_.get(buttonName(button))->setEnabled(enabled);
    notifyChange();
}

void MainWindow::setStatusCaption(const std::string& caption) {
    statusLabel_->setText(QString::fromStdString(caption));
    notifyChange();
}

std::string MainWindow::text() const { return urlBox_->text().toStdString(); }

void MainWindow::setText(const std::string& text) {
    urlBox_->setText(QString::fromStdString(text));
}

void MainWindow::onStatusChange() {
    boundary_.run([this] { transport_->statusChange(); });
}

void MainWindow::onWarning(std::int32_t, std::int32_t, const std::string&) {
    boundary_.run([this] { notices_->warning(); });
}

void MainWindow::onMediaError() {
    boundary_.run([this] { notices_->mediaError(); });
}

void MainWindow::onMediaChange() { notifyChange(); }

void MainWindow::notifyChange() {
    if (changeObserver_) {
        changeObserver_();
    }
}

MainWindow* openMainWindow(const PlayerFactory& createPlayer, AboutWindow& about) {
    auto* window = new MainWindow(createPlayer, about);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    return window;
}

}  // namespace velmora::ui
