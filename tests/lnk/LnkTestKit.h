#pragma once

#include "lnk/LnkBuilder.h"
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

// A LinkInfo with ANSI strings only, as Windows writes it for a path that
// fits its code page: a local base path (with its VolumeID) and a share's
// net name, each when not empty, then the common path suffix.
inline QByteArray ansiLinkInfo(const QByteArray &local, const QByteArray &net, const QByteArray &suffix)
{
    QByteArray volume;
    if (!local.isEmpty()) {
        LnkBuilder::appendU32(volume, 0x11);
        LnkBuilder::appendU32(volume, 3); // fixed drive
        LnkBuilder::appendU32(volume, 0x1234ABCD);
        LnkBuilder::appendU32(volume, 0x10);
        volume.append('\0'); // no label
    }
    QByteArray network;
    if (!net.isEmpty()) {
        LnkBuilder::appendU32(network, static_cast<quint32>(0x14 + net.size() + 1));
        LnkBuilder::appendU32(network, 0);
        LnkBuilder::appendU32(network, 0x14);
        LnkBuilder::appendU32(network, 0);
        LnkBuilder::appendU32(network, 0x20000);
        network += net + '\0';
    }
    const qsizetype volumeAt = 0x1C;
    const qsizetype localAt = volumeAt + volume.size();
    const qsizetype netAt = localAt + (local.isEmpty() ? 0 : local.size() + 1);
    const qsizetype suffixAt = netAt + network.size();
    QByteArray info;
    LnkBuilder::appendU32(info, static_cast<quint32>(suffixAt + suffix.size() + 1));
    LnkBuilder::appendU32(info, 0x1C);
    LnkBuilder::appendU32(info, (local.isEmpty() ? 0 : 1) | (net.isEmpty() ? 0 : 2));
    LnkBuilder::appendU32(info, local.isEmpty() ? 0 : static_cast<quint32>(volumeAt));
    LnkBuilder::appendU32(info, local.isEmpty() ? 0 : static_cast<quint32>(localAt));
    LnkBuilder::appendU32(info, net.isEmpty() ? 0 : static_cast<quint32>(netAt));
    LnkBuilder::appendU32(info, static_cast<quint32>(suffixAt));
    info += volume;
    if (!local.isEmpty())
        info += local + '\0';
    info += network + suffix + '\0';
    return info;
}

// A link made by our writer with no IDList and no LinkInfo of its own, given
// `info` as its LinkInfo; options may add strings.
inline LnkFile linkWithInfo(const QByteArray &info, LnkCreateOptions options = {})
{
    LnkTargetInfo target;
    target.winPath = QStringLiteral("C:\\placeholder.txt");
    options.idList = false;
    options.linkInfo = false;
    // std::get throws, failing the test, when the writer fails.
    const LnkFile made =
        std::get<LnkFile>(LnkFile::create(target, QStringLiteral("c:\\Links\\x.lnk"), options));
    QByteArray bytes = made.serialize();
    bytes.insert(0x4C, info); // right after the header: there is no IDList
    LnkBuilder::putU32(bytes, 0x14, made.linkFlags() | LnkFlag::HasLinkInfo);
    return load(bytes);
}
