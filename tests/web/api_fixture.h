#pragma once
// The journal's routes as a worker thread runs them: a journal written as
// the collector writes it, a read-only store and the writer of a worker, the
// live feed on its own thread, and requests made from a URL (decoded by the
// server's own decoder) with a session of a given role.
#include "web_journal.h"
#include "web_test.h"

#include "journal/journal_store.h"
#include "journal/web_accounts.h"
#include "web/journal_api.h"
#include "web/journal_rows.h"
#include "web/live_feed.h"
#include "web/notes_api.h"
#include "web/request_text.h"
#include "web/web_router.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>
#include <memory>
#include <optional>

namespace chronel::test {

class ApiFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(journal_.create(&error)) << error;
        ASSERT_TRUE(reader_.openReadOnly(journal_.location(), &error)) << error;
        feed_ = std::make_unique<LiveFeed>(journal_.location());
        ASSERT_TRUE(feed_->start(&error)) << error;
        AddJournalApi(router_, *feed_);
        AddNotesApi(router_);
    }
    void TearDown() override { feed_->stop(); }

    // `target` as a browser sends it ("/api/rows?module=127.0.0.2"); no
    // role: no session. Changes carry the session's CSRF token.
    WebResponse call(HttpMethod method, const QByteArray& target, std::optional<WebRole> role = WebRole::Viewer,
        const QByteArray& body = {})
    {
        const std::optional<RequestTarget> decoded = DecodeTarget(target);
        EXPECT_TRUE(decoded) << target.toStdString();
        WebRequest request;
        request.method = method;
        request.path = decoded ? decoded->path : QString();
        request.query = decoded ? decoded->query : QMap<QString, QString>();
        request.body = body;
        request.contentType = QStringLiteral("application/json");
        request.clientAddress = QStringLiteral("127.0.0.1");
        if (role) {
            const QString name = WebRoleText(*role) + QStringLiteral("-user");
            request.session = WebSession{QStringLiteral("session"), name, *role, QStringLiteral("token")};
            request.headers.insert("x-csrf-token", "token");
        }
        WorkerContext context{reader_, journal_.writer()};
        return router_.route(request, context);
    }
    WebResponse get(const QByteArray& target, std::optional<WebRole> role = WebRole::Viewer)
    {
        return call(HttpMethod::Get, target, role);
    }
    WebResponse post(const QByteArray& target, const QJsonObject& body, std::optional<WebRole> role = WebRole::Engineer)
    {
        return call(HttpMethod::Post, target, role, QJsonDocument(body).toJson(QJsonDocument::Compact));
    }
    static QJsonDocument Json(const WebResponse& response) { return QJsonDocument::fromJson(response.body); }
    static QString Error(const WebResponse& response)
    {
        return QJsonDocument::fromJson(response.body).object().value(QStringLiteral("error")).toString();
    }

    WebJournal journal_;
    JournalStore reader_;
    std::unique_ptr<LiveFeed> feed_;
    WebRouter router_;
};

} // namespace chronel::test
