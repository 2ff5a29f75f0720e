#pragma once

#include <QDate>
#include <QString>
#include <QStringList>
#include <optional>

#include "mqtt/MqttClient.h"
#include "plays/PlaysDatabase.h"

// What `corvane-plays` is told on its command line. A mistake in it is a usage error: the
// program says what is wrong, shows the usage and ends with status 2.
namespace CommandLine {

constexpr int kUsageError = 2;
constexpr int kUnreachable = 1;
constexpr const char* kDefaultTopic = "corvane/+/+/plays";

struct Collect {
    MqttClient::Settings broker;
    QString topic;
    PlaysDatabase::Address database;
};

struct Report {
    PlaysDatabase::Address database;
    QDate from;
    QDate to;
    PlaysDatabase::By by = PlaysDatabase::By::File;
    bool html = false;
    QString out;  // empty: standard output
};

QString Usage();
// The arguments after the command's word; nullopt with `fault` set for a usage error.
std::optional<Collect> ParseCollect(const QStringList& arguments, QString* fault);
std::optional<Report> ParseReport(const QStringList& arguments, QString* fault);
// HOST, HOST:PORT or [IPv6]:PORT; the port 1883, or 8883 with TLS, when none is given.
bool ParseBroker(const QString& text, bool tls, MqttClient::Settings* broker);

}  // namespace CommandLine
