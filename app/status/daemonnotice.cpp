#include "app/status/daemonnotice.h"

#include <QBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QResizeEvent>
#include <QStyle>
#include <QToolButton>

#include "config/configdocument.h"
#include "daemon/daemonnotices.h"

DaemonNotice::DaemonNotice(QWidget* parent)
    : QFrame(parent), m_icon(new QLabel(this)), m_text(new QLabel(this))
{
    setObjectName(QStringLiteral("daemonNotice"));
    setFrameShape(QFrame::StyledPanel);
    // The pages get the room; the notice takes what its lines need.
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    setAutoFillBackground(true);
    QPalette tinted = palette();
    tinted.setColor(QPalette::Window, QColor(255, 244, 206));
    tinted.setColor(QPalette::WindowText, Qt::black);
    setPalette(tinted);

    m_icon->setAlignment(Qt::AlignTop);
    m_text->setObjectName(QStringLiteral("daemonNoticeText"));
    m_text->setWordWrap(true);
    m_text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* hide = new QToolButton(this);
    hide->setObjectName(QStringLiteral("bHideNotice"));
    hide->setText(tr("Hide"));
    hide->setAutoRaise(true);
    connect(hide, &QToolButton::clicked, this, &QWidget::hide);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 4, 6, 4);
    layout->addWidget(m_icon);
    layout->addWidget(m_text, 1);
    layout->addWidget(hide, 0, Qt::AlignTop);
    refresh();
}

QSize DaemonNotice::sizeHint() const
{
    QSize hint = QFrame::sizeHint();
    if (width() > 0 && layout())
        hint.setHeight(layout()->totalHeightForWidth(width()));
    return hint;
}

void DaemonNotice::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    if (event->oldSize().width() != width())
        updateGeometry();
}

QString DaemonNotice::text() const
{
    return m_text->text();
}

void DaemonNotice::refresh()
{
    const ConfigDocument& document = ConfigDocument::instance();
    QStringList notices = daemonNotices(currentDaemon(), document.path(), document.lastReadError());
    if (!document.readOnlyReason().isEmpty())
        notices.prepend(
            tr("%1 is shown read-only: %2").arg(document.path(), document.readOnlyReason()));
    m_text->setText(notices.join(QStringLiteral("\n")));
    // The icon is loaded only for a notice that is shown, which most
    // start-ups have none of.
    if (!notices.isEmpty() && m_icon->pixmap(Qt::ReturnByValue).isNull()) {
        const int size = style()->pixelMetric(QStyle::PM_SmallIconSize);
        m_icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(size, size));
    }
    setVisible(!notices.isEmpty());
}
