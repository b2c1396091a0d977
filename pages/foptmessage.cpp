#include "pages/foptmessage.h"

#include <QCheckBox>
#include <QRegularExpression>
#include <QTabWidget>
#include <QVBoxLayout>

#include "config/ntpsettings.h"
#include "pages/foptmessage_settings.h"

namespace
{
struct MessageClass {
    const char* word;
    const char* caption;
};

// Message classes in tab order.
const MessageClass messageClasses[] = {{"clock", QT_TR_NOOP("Clock messages")},
                                       {"peer", QT_TR_NOOP("Peer messages")},
                                       {"sys", QT_TR_NOOP("System messages")},
                                       {"sync", QT_TR_NOOP("NTP messages")}};
} // namespace

QString FOptMessage::pageTitle()
{
    return tr("Message reporting");
}

FOptMessage::FOptMessage(QWidget* parent) : ModifiableWidget(parent)
{
    qRegisterMetaType<FOptMessage_Settings*>("FOptMessage_Settings*");
    setWindowTitle(pageTitle());
    tabWidget = new QTabWidget(this);
    tabWidget->setObjectName(QStringLiteral("tabWidget"));
    for (const MessageClass& messageClass : messageClasses) {
        auto* settings =
            new FOptMessage_Settings(tabWidget, QString::fromLatin1(messageClass.word));
        connectSettings(settings);
        tabWidget->addTab(settings, tr(messageClass.caption));
    }
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(tabWidget);
    layout->addStretch(1);
    loadSettings();
}

void FOptMessage::connectSettings(FOptMessage_Settings* settings)
{
    for (QCheckBox* box : {settings->chbAll, settings->chbInfo, settings->chbEvents,
                           settings->chbStatistics, settings->chbStatus})
        connect(box, &QCheckBox::stateChanged, this, &FOptMessage::stateChanged);
}

void FOptMessage::stateChanged(int)
{
    emit dataChanged(this);
}

FOptMessage_Settings* FOptMessage::findSettings(const QString& messageClass) const
{
    for (int i = 0; i < tabWidget->count(); ++i) {
        auto* settings = static_cast<FOptMessage_Settings*>(tabWidget->widget(i));
        if (settings->messageClass == messageClass)
            return settings;
    }
    return nullptr;
}

void FOptMessage::loadSettings()
{
    readNtpSettings();
    for (int i = 0; i < tabWidget->count(); ++i)
        static_cast<FOptMessage_Settings*>(tabWidget->widget(i))->clear();

    // "all" as the class ("allinfo", "allall") names that type of every class.
    static const QRegularExpression selector(
        QStringLiteral("(peer|clock|sys|sync|all)(all|events|statistics|info|status)"));
    for (const QString& raw : qAsConst(ntpSettings.logConfig)) {
        QString item = raw.toLower();
        if (item.isEmpty() || item.startsWith(QLatin1Char('-')))
            continue;
        if (item.startsWith(QLatin1Char('+')))
            item.remove(0, 1);
        const QRegularExpressionMatch match = selector.match(item);
        if (!match.hasMatch())
            continue;
        if (match.captured(1) == QLatin1String("all")) {
            for (int i = 0; i < tabWidget->count(); ++i)
                static_cast<FOptMessage_Settings*>(tabWidget->widget(i))
                    ->checkType(match.captured(2));
        } else if (FOptMessage_Settings* settings = findSettings(match.captured(1))) {
            settings->checkType(match.captured(2));
        }
    }
    loadedItems = ntpSettings.logConfig;
    loadedTabItems = tabItems();
}

QStringList FOptMessage::tabItems() const
{
    QStringList items;
    for (int i = 0; i < tabWidget->count(); ++i)
        items += static_cast<FOptMessage_Settings*>(tabWidget->widget(i))->items();
    return items;
}

void FOptMessage::saveSettings()
{
    const QStringList items = tabItems();
    ntpSettings.logConfig = items == loadedTabItems ? loadedItems : items;
    writeNtpSettings();
}
