#include "AppModelSingleton.h"

#include "view/WindowEngine.h"

AppModel *AppModelSingleton::create(QQmlEngine *engine, QJSEngine *)
{
    return WindowEngine::modelOf(engine);
}
