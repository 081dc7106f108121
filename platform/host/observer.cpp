#include "observer.h"

namespace host {

namespace {
Observer* g_observer = nullptr;
}

Observer* SetObserver(Observer* observer)
{
    Observer* previous = g_observer;
    g_observer = observer;
    return previous;
}

Observer* CurrentObserver()
{
    return g_observer;
}

}  // namespace host
