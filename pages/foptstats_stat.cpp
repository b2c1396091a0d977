#include "pages/foptstats_stat.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "host/host.h"
#include "pages/foptstats.h"

namespace
{
// Generation types of a filegen line, in the order the Type box lists them.
const char* const fileGenTypes[] = {
    QT_TRANSLATE_NOOP("FOptStats_Stat", "none"),  QT_TRANSLATE_NOOP("FOptStats_Stat", "pid"),
    QT_TRANSLATE_NOOP("FOptStats_Stat", "day"),   QT_TRANSLATE_NOOP("FOptStats_Stat", "week"),
    QT_TRANSLATE_NOOP("FOptStats_Stat", "month"), QT_TRANSLATE_NOOP("FOptStats_Stat", "year"),
    QT_TRANSLATE_NOOP("FOptStats_Stat", "age")};

constexpr qint64 mebibyte = 1024 * 1024;

// Lines longer than this are shown broken into pieces: laying out one very
// long line (a damaged or binary file) would keep the viewer busy for minutes.
constexpr int longestShownLine = 1000;

QString withLongLinesBroken(const QString& text)
{
    QString result;
    result.reserve(text.size() + text.size() / longestShownLine);
    int lineLength = 0;
    for (const QChar ch : text) {
        if (ch == QLatin1Char('\n')) {
            lineLength = 0;
        } else if (lineLength == longestShownLine) {
            result += QLatin1Char('\n');
            lineLength = 1;
        } else {
            ++lineLength;
        }
        result += ch;
    }
    return result;
}
} // namespace

FOptStats_Stat::FOptStats_Stat(QWidget* parent) : QWidget(parent)
{
    buildWidgets();
    connect(chbUsed, &QCheckBox::stateChanged, this, &FOptStats_Stat::stateChanged);
    connect(bView, &QPushButton::clicked, this, &FOptStats_Stat::bView_clicked);
    stateChanged(chbUsed->checkState());
}

void FOptStats_Stat::buildWidgets()
{
    chbUsed = new QCheckBox(tr("Used"), this);
    chbUsed->setObjectName(QStringLiteral("chbUsed"));
    chbLink = new QCheckBox(tr("Link"), this);
    chbLink->setObjectName(QStringLiteral("chbLink"));
    chbEnable = new QCheckBox(tr("enable"), this);
    chbEnable->setObjectName(QStringLiteral("chbEnable"));

    cbType = new QComboBox(this);
    cbType->setObjectName(QStringLiteral("cbType"));
    for (const char* type : fileGenTypes)
        cbType->addItem(tr(type), QString::fromLatin1(type));

    leFilename = new QLineEdit(this);
    leFilename->setObjectName(QStringLiteral("leFilename"));
    bView = new QPushButton(tr("View..."), this);
    bView->setObjectName(QStringLiteral("bView"));

    auto* typeLine = new QHBoxLayout;
    typeLine->addWidget(cbType);
    typeLine->addStretch();

    auto* fileLine = new QHBoxLayout;
    fileLine->addWidget(new QLabel(tr("Filename"), this));
    fileLine->addWidget(leFilename, 1);
    fileLine->addWidget(bView);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(chbUsed);
    layout->addWidget(chbLink);
    layout->addWidget(chbEnable);
    layout->addWidget(new QLabel(tr("Type"), this));
    layout->addLayout(typeLine);
    layout->addLayout(fileLine);
    layout->addStretch();
}

bool FOptStats_Stat::Shown::operator==(const Shown& o) const
{
    return used == o.used && typeIndex == o.typeIndex && file == o.file && link == o.link &&
           enabled == o.enabled;
}

FOptStats_Stat::Shown FOptStats_Stat::shownNow() const
{
    Shown shown;
    shown.used = chbUsed->isChecked();
    shown.typeIndex = cbType->currentIndex();
    shown.file = leFilename->text();
    shown.link = chbLink->isChecked();
    shown.enabled = chbEnable->isChecked();
    return shown;
}

void FOptStats_Stat::reset()
{
    m_loadedEntries.clear();
    leFilename->setText(objectName());
    chbLink->setChecked(false);
    chbEnable->setChecked(false);
    chbUsed->setChecked(false);
    stateChanged(chbUsed->checkState());
    m_shownAtLoad = shownNow();
}

void FOptStats_Stat::showEntry(const FileGenEntry& entry, bool used)
{
    m_loadedEntries.append(entry);
    cbType->setCurrentIndex(cbType->findData(entry.type));
    leFilename->setText(entry.file);
    chbLink->setChecked(entry.link);
    chbEnable->setChecked(entry.enabled);
    chbUsed->setChecked(used);
    stateChanged(chbUsed->checkState());
    m_shownAtLoad = shownNow();
}

bool FOptStats_Stat::isUsed() const
{
    return chbUsed->isChecked();
}

bool FOptStats_Stat::isChanged() const
{
    return !(shownNow() == m_shownAtLoad);
}

QList<FileGenEntry> FOptStats_Stat::entriesToSave() const
{
    if (!m_loadedEntries.isEmpty() && !isChanged())
        return m_loadedEntries;
    return {entry()};
}

FileGenEntry FOptStats_Stat::entry() const
{
    FileGenEntry result = m_loadedEntries.isEmpty() ? FileGenEntry() : m_loadedEntries.last();
    result.name = objectName();
    result.type = cbType->currentIndex() >= 0 ? cbType->currentData().toString() : QString();
    // A file name is one word of the line: blanks around it cannot be kept,
    // and a blank-only name would swallow the next word when read back.
    const QString file = leFilename->text().trimmed();
    result.file = file.isEmpty() ? objectName() : file;
    result.link = chbLink->isChecked();
    result.enabled = chbEnable->isChecked();
    result.namesLink = result.namesEnable = true;
    return result;
}

void FOptStats_Stat::stateChanged(int)
{
    const bool used = chbUsed->isChecked();
    leFilename->setEnabled(used);
    cbType->setEnabled(used);
    chbLink->setEnabled(used);
    chbEnable->setEnabled(used);
    bView->setEnabled(used);
}

void FOptStats_Stat::bView_clicked()
{
    QString dir;
    if (!findStatsDir(&dir))
        return;
    const QString file = leFilename->text().trimmed();
    if (file.isEmpty()) {
        QMessageBox::warning(this, tr("Error"), tr("File field is empty"));
        return;
    }
    if (!dir.isEmpty() && !dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    showFile(dir + file);
}

bool FOptStats_Stat::findStatsDir(QString* dir)
{
    for (QObject* object = parent(); object; object = object->parent()) {
        if (qstrcmp(object->metaObject()->className(), "FOptStats") == 0) {
            *dir = static_cast<FOptStats*>(object)->statsDirText().trimmed();
            return true;
        }
    }
    QMessageBox::warning(this, tr("Error"),
                         tr("Internal error") + QStringLiteral(": ") +
                             tr("FOptStats object not found"));
    return false;
}

void FOptStats_Stat::showFile(const QString& path)
{
    // Only regular files (the host opens nothing else), and only their end.
    FileContent file;
    if (Host::current().readTail(path, viewLimit, &file) != 0) {
        QMessageBox::critical(this, tr("Error"), tr("Unable to open file ") + path,
                              QMessageBox::Ok);
        return;
    }

    QString text;
    const qint64 size = file.status.size;
    if (size > viewLimit) {
        QByteArray tail = file.bytes;
        // Start with a whole line.
        const int newline = tail.indexOf('\n');
        if (newline >= 0)
            tail.remove(0, newline + 1);
        text = tr("[...] only the last %1 MiB of %2 MiB are shown")
                   .arg(viewLimit / mebibyte)
                   .arg((size + mebibyte / 2) / mebibyte) +
               QLatin1Char('\n') + QString::fromLocal8Bit(tail);
    } else {
        text = QString::fromLocal8Bit(file.bytes);
    }

    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("dViewStats"));
    dialog.setWindowTitle(tr("View statistics file ") + path);
    auto* browser = new QTextBrowser(&dialog);
    browser->setObjectName(QStringLiteral("textBrowser"));
    browser->setPlainText(withLongLinesBroken(text));
    auto* layout = new QHBoxLayout(&dialog);
    layout->addWidget(browser);
    dialog.resize(640, 480);
    dialog.exec();
}
