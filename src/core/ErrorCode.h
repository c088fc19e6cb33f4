#pragma once

#include <QMetaType>
#include <QString>

namespace Morvaniel {

// Results of the download subsystem, carried by its signals and its callback record.
enum ErrorCode : int {
    NoError = 0,
    FileComplete = 1, // one transfer finished (internal)
    NetworkFailure = 2, // reported after the automatic restarts
    StallTimeout = 3, // no data for 20000 ms
    ShortWrite = 5, // fewer bytes written to disk than received
};

// Code strings kept for the host's own error reporting; the library does not use them.
static const QString CODE_2001 = QStringLiteral("2001");
static const QString CODE_2002 = QStringLiteral("2002");
static const QString CODE_2003 = QStringLiteral("2003");
static const QString CODE_2004 = QStringLiteral("2004");
static const QString CODE_2005 = QStringLiteral("2005");
static const QString CODE_2006 = QStringLiteral("2006");
static const QString CODE_2007 = QStringLiteral("2007");
static const QString CODE_2008 = QStringLiteral("2008");
static const QString CODE_2009 = QStringLiteral("2009");
static const QString CODE_2010 = QStringLiteral("2010");
static const QString CODE_2011 = QStringLiteral("2011");
static const QString CODE_2012 = QStringLiteral("2012");
static const QString CODE_2013 = QStringLiteral("2013");
static const QString CODE_2014 = QStringLiteral("2014");
static const QString CODE_2015 = QStringLiteral("2015");
static const QString CODE_2016 = QStringLiteral("2016");
static const QString CODE_2017 = QStringLiteral("2017");
static const QString CODE_2018 = QStringLiteral("2018");

} // namespace Morvaniel

Q_DECLARE_METATYPE(Morvaniel::ErrorCode)
