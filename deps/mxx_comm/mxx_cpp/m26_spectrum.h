// M26Spectrum: a spectrum read from an M26 instrument's files, with its
// pile-up count and what kind it is ("Second" or "Stabilization").
#pragma once

#include "spectrum.h"

#include <QString>

class M26Spectrum : public Spectrum
{
    Q_OBJECT
    Q_PROPERTY(uint pileup READ pileup WRITE setPileup)
    Q_PROPERTY(QString type READ typeName WRITE setTypeName)

public:
    static const QString kSecond;
    static const QString kStabilization;

    using Spectrum::Spectrum;
    M26Spectrum(const M26Spectrum& other);
    M26Spectrum& operator=(const M26Spectrum& other);

    // The base addition, then the other's pile-up added; a stabilisation
    // spectrum added to a second's makes this one a stabilisation spectrum.
    Spectrum& operator+=(const Spectrum& other) override;

    uint pileup() const { return m_pileup; }
    void setPileup(uint pileup) { m_pileup = pileup; }
    QString typeName() const { return m_typeName; }
    void setTypeName(const QString& name) { m_typeName = name; }

private:
    uint m_pileup = 0;
    QString m_typeName;
};
