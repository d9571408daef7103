#pragma once

#include "ManagedContentModel.h"

#include <QAbstractListModel>

// The applications of the pane's grid, one row each in the store's order, identified by package name.
class ApplicationListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role
    {
        applicationRole = Qt::UserRole + 1, // the ManagedApplication
        packageNameRole,
    };

    using QAbstractListModel::QAbstractListModel;

    void setApplications(const QList<ManagedApplication> &applications);
    const QList<ManagedApplication> &applications() const { return m_applications; }
    // The row of `packageName`, or -1.
    int rowOf(const QString &packageName) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;

private:
    QList<ManagedApplication> m_applications;
};
