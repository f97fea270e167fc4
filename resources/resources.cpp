#include <QtGlobal>

// Registers the compiled-in resources. A static library's resource initialiser is otherwise
// dropped by the linker, so the windows call this before they load a picture.
void quorvaneInitResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(resources);
        return true;
    }();
    Q_UNUSED(done);
}
