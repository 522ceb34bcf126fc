#include "foundation/foundationservices.h"

namespace {
thread_local QString t_actingUser;
}

QString OperationRecord_Interface::actingUser()
{
    return t_actingUser;
}

OperationRecord_Interface::ActingUserScope::ActingUserScope(const QString& user) : m_previous(t_actingUser)
{
    t_actingUser = user;
}

OperationRecord_Interface::ActingUserScope::~ActingUserScope()
{
    t_actingUser = m_previous;
}
