#pragma once

#include "apiclient.h"
#include "authclient.h"
#include "client.h"
#include "recordinghttpserver.h"
#include "testaccount.h"
#include "tokenmanager.h"
#include "tokenstore.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QMap>
#include <QTest>

// The account client facade pointed at a recording server on 127.0.0.1, with tokens in memory
// and a short request timeout.
struct AccountFixture
{
    static constexpr int ShortTimeoutMs = 400;

    RecordingHttpServer server;
    QMap<QString, QString> stored;
    std::unique_ptr<BrevAccount::Client> client;

    AccountFixture()
    {
        QVERIFY(server.listen());
        BrevAccount::ClientConfig config;
        config.authBaseUrl = server.url().toString();
        config.realmSlug = "brevaro";
        config.accountApiUrl = server.url("/account").toString();
        config.clientId = "0123456789abcdef0123456789abcdef";
        config.appIdentifier = "app.brevaro.notes.test";
        config.appDisplayName = "Brevaro Notes";
        config.appVersion = "1.1.0";
        client = std::make_unique<BrevAccount::Client>(
            config, std::make_unique<MemoryTokenStore>(&stored));
        client->syncApi()->setBaseUrl(server.url("/sync/v1"));
        for (auto *api : { client->authApi(), client->accountApi(), client->syncApi() })
            api->setTimeouts(ShortTimeoutMs, ShortTimeoutMs);
    }

    // Signs in with the given tokens as if they had been stored by an earlier run.
    void signIn(const QString &access, const QString &refresh)
    {
        if (!access.isEmpty())
            stored.insert(accessKey, access);
        if (!refresh.isEmpty())
            stored.insert(refreshKey, refresh);
        client->tokenManager()->load();
    }

    static QString refreshPath() { return "/api/v1/realms/brevaro/auth/token/refresh"; }
    void answerRefresh(const ScriptedReply &reply)
    {
        server.setReply("POST", refreshPath(), reply);
    }
    static ScriptedReply tokens(const QString &access, const QString &refresh)
    {
        QJsonObject body { { "access_token", access } };
        if (!refresh.isEmpty())
            body.insert("refresh_token", refresh);
        return ScriptedReply::json(200, body);
    }
};

// What one callback received.
struct Outcome
{
    int calls = 0;
    bool ok = false;
    int status = -1;
    QJsonObject body;

    BrevAccount::ResponseCallback callback()
    {
        return [this](bool isOk, int code, const QJsonObject &json) {
            ++calls;
            ok = isOk;
            status = code;
            body = json;
        };
    }
};
