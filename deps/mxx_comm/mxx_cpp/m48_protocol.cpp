#include "m48_protocol.h"

#include "family_support.h"

namespace {

const mxx_family::ModelName kModels[] = {
    {714, "ZN-714KA"},
    {715, "ZN-715KA"},
};

} // namespace

void M48Protocol::bind(int connection, QThread* thread)
{
    Protocol::bind(connection, thread);
    emit probeConnectionChanged(true);
}

void M48Protocol::unbind()
{
    Protocol::unbind();
    emit probeConnectionChanged(false);
}

QString M48Protocol::getModelName(int model)
{
    return mxx_family::modelName(kModels, model);
}
