#pragma once

#include "model/AppModel.h"

#include <QtQml/qqml.h>

class QJSEngine;
class QQmlEngine;

// The model as QML sees it: the singleton AppModel, the one the window engine was made with.
struct AppModelSingleton
{
    Q_GADGET
    QML_FOREIGN(AppModel)
    QML_NAMED_ELEMENT(AppModel)
    QML_SINGLETON

public:
    static AppModel *create(QQmlEngine *engine, QJSEngine *);
};
