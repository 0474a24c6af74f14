#include "WindowEngine.h"

#include "model/AppModel.h"
#include "view/DesktopActions.h"

namespace {

template<typename Object>
Object *keptByCpp(Object *object)
{
    if (object)
        QJSEngine::setObjectOwnership(object, QJSEngine::CppOwnership);
    return object;
}

} // namespace

WindowEngine::WindowEngine(AppModel &model, DesktopActions &desktop)
    : m_model(model)
    , m_desktop(desktop)
{
}

AppModel *WindowEngine::modelOf(QQmlEngine *engine)
{
    auto *window = qobject_cast<WindowEngine *>(engine);
    return keptByCpp(window ? &window->m_model : nullptr);
}

DesktopActions *WindowEngine::desktopOf(QQmlEngine *engine)
{
    auto *window = qobject_cast<WindowEngine *>(engine);
    return keptByCpp(window ? &window->m_desktop : nullptr);
}
