#pragma once

#include "lnk/LnkFile.h"

#include <QFile>

#include <gtest/gtest.h>

// The bytes of one of the Windows-made sample shortcuts; empty when missing.
inline QByteArray sample(const QString &name)
{
    QFile f(QStringLiteral(LINKMEND_TEST_DATA "/lnk-samples/") + name);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

// Parses bytes that must load; a load failure fails the test.
inline LnkFile load(const QByteArray &bytes)
{
    auto parsed = LnkFile::parse(bytes);
    if (auto *error = std::get_if<LnkError>(&parsed))
        ADD_FAILURE() << "load failed: " << error->what.toStdString() << " at " << error->offset;
    return std::get<LnkFile>(std::move(parsed));
}
