#pragma once

#include <QAbstractListModel>
#include <QImage>
#include <QMap>
#include <QStringList>

// The playlist: media paths in order, shown with their file names, full paths as
// tooltips, and a small picture (an audio icon, or a thumbnail of the first frame).
class PlaylistModel : public QAbstractListModel
{
    Q_OBJECT

public:
    explicit PlaylistModel(QObject *parent = nullptr);
    ~PlaylistModel() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    void addFile(const QString &path);
    void removeFile(int row);
    void clear();
    QString filePath(int row) const;
    int count() const;

    QImage generateThumbnail(const QString &path) const;

private:
    QStringList files;
    mutable QMap<QString, QImage> thumbnailCache;
};
