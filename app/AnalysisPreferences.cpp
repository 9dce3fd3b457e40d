#include "app/AnalysisPreferences.h"

#include <QSettings>
#include <QString>

namespace corvina {
namespace {

const QString kSizeBasisKey = QStringLiteral("Preferences/SizeBasis");

}  // namespace

SizeBasis ReadSizeBasis(QSettings& settings) {
    const std::string text = settings.value(kSizeBasisKey).toString().toStdString();
    return ParseSizeBasis(text).value_or(SizeBasis::Apparent);
}

void WriteSizeBasis(QSettings& settings, SizeBasis basis) {
    const std::string_view name = SizeBasisName(basis);
    settings.setValue(kSizeBasisKey, QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
    settings.sync();
}

}  // namespace corvina
