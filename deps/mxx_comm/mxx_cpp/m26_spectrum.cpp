#include "m26_spectrum.h"

const QString M26Spectrum::kSecond = QStringLiteral("Second");
const QString M26Spectrum::kStabilization = QStringLiteral("Stabilization");

M26Spectrum::M26Spectrum(const M26Spectrum& other)
    : Spectrum(other), m_pileup(other.m_pileup), m_typeName(other.m_typeName)
{
}

M26Spectrum& M26Spectrum::operator=(const M26Spectrum& other)
{
    Spectrum::operator=(other);
    m_pileup = other.m_pileup;
    m_typeName = other.m_typeName;
    return *this;
}

Spectrum& M26Spectrum::operator+=(const Spectrum& other)
{
    Spectrum::operator+=(other);
    if (const auto* m26 = dynamic_cast<const M26Spectrum*>(&other)) {
        m_pileup += m26->m_pileup;
        if (m26->m_typeName == kStabilization && m_typeName == kSecond)
            m_typeName = kStabilization;
    }
    return *this;
}
