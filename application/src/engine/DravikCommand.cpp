#include "engine/DravikCommand.h"

#include "dravik.h"

#include <QCoreApplication>

DravikCommand::DravikCommand(GmModel* model, const QString& description, int initialResult)
    : m_result(initialResult), m_model(model), m_description(description)
{
}

QString DravikCommand::description() const
{
    return m_description;
}

QString DravikCommand::argumentText() const
{
    return {};
}

bool DravikCommand::prepare()
{
    return true;
}

void DravikCommand::finish() {}

void DravikCommand::discarded() {}

bool DravikCommand::isCancellable() const
{
    return true;
}

bool DravikCommand::countsAsChange() const
{
    return true;
}

bool DravikCommand::refreshesUndoRedo() const
{
    return false;
}

void DravikCommand::nothing() {}

QString DravikCommand::outOfMemoryMessage()
{
    return QCoreApplication::translate("DravikCommand", "Out of memory", "description of Dravik Library error");
}

void DravikCommand::checkResult(int code)
{
    switch (code) {
    // An internal failure has already marked the engine's library dead.
    case DvInternalFailure:
    case DvLibraryDead:
        throw Error{code, QCoreApplication::translate("DravikCommand", "Dravik library fault",
                                                      "description of Dravik Library error")};
    // The engine could not restore what it was changing: it has marked its library dead.
    case DvOutOfMemoryUntrusted:
        throw Error{code, outOfMemoryMessage()};
    default:
        break;
    }
}
