#include "ApplicationListModel.h"

#include "ManagedApplicationsPresentation.h"
#include "PlainLabel.h"

void ApplicationListModel::setApplications(const QList<ManagedApplication> &applications)
{
    if (applications == m_applications) {
        return;
    }
    beginResetModel();
    m_applications = applications;
    endResetModel();
}

int ApplicationListModel::rowOf(const QString &packageName) const
{
    for (qsizetype row = 0; row < m_applications.size(); ++row) {
        if (m_applications[row].packageName == packageName) {
            return int(row);
        }
    }
    return -1;
}

int ApplicationListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_applications.size());
}

QVariant ApplicationListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_applications.size()) {
        return {};
    }
    const ManagedApplication &application = m_applications[index.row()];
    switch (role) {
    case Qt::DisplayRole:
        return application.name;
    case Qt::ToolTipRole:
        // What a narrow tile shortens, whole.
        return plainToolTip(application.name + u'\n' + ManagedApplicationsPresentation::updatedText(application));
    case applicationRole:
        return QVariant::fromValue(application);
    case packageNameRole:
        return application.packageName;
    default:
        return {};
    }
}
