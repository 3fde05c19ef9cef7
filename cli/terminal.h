// SPDX-License-Identifier: GPL-3.0-or-later
// What voralith-cli shows and asks: results on standard output, failures, questions and
// progress on standard error. A bar per step when standard error is a terminal, a plain
// line per step otherwise; --quiet leaves only the failures. Every write is checked.
// With several sites (boards) every line names its site's device, and on a terminal each
// site has a line of its own that stays in place. The sites' threads tell through one
// terminal at once: every call takes its lock.
#pragma once

#include "operations.h"
#include "teller.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class Terminal : public Teller {
public:
    // `json`: standard output carries only the JSON lines (line()); results go to standard
    // error, and steps are plain lines there, never bars.
    Terminal(bool quiet, bool json = false);
    ~Terminal() override;

    // The sites' devices as told. With more than one, what a site tells (`site`: its index)
    // is named by its device; -1 is the command's own word.
    void setSites(const QStringList &names);
    void result(const QString &text, int site = -1) override;
    void failure(const QString &text, int site = -1) override;
    // The last failure told (a JSON result says it too).
    const QString &lastFailure() const { return m_lastFailure; }
    // One JSON line on standard output, --quiet or not.
    bool line(const QByteArray &json)
    {
        const std::lock_guard hold(m_lock);
        return put(stdout, json);
    }
    // A result told on standard error, when standard output carries data.
    void note(const QString &text, int site = -1) override;
    // Text on standard output as it is, --quiet or not (the help, the version).
    void print(const QString &text);
    // Data on standard output as it is (an image read into "-"); false when it failed.
    bool data(const QByteArray &bytes) override
    {
        const std::lock_guard hold(m_lock);
        return put(stdout, bytes);
    }
    // The progress sink of one step, named as it starts.
    Progress step(const QString &name, int site = -1) override;
    // A site's last word on its own line ("passed", "failed at Write"), kept there until
    // the sites' lines are closed.
    void siteEnds(int site, const QString &word) override;
    // With --json, every event of the run on standard output, a line each.
    void event(const LineEvent &e) override
    {
        if (m_json)
            line(e.json + '\n');
    }
    bool json() const { return m_json; }
    // The sites' lines stay as they are; what follows goes under them.
    void closeSiteLines();
    // A question answered on standard input; only "y" or "yes" says yes.
    bool ask(const QString &question);
    // The next line of input after a prompt, which is shown only when a person types it;
    // nothing at the input's end, when a stop came or once output failed. On a terminal
    // only what is typed after the prompt counts.
    std::optional<QString> prompted(const QString &text);
    // Keys typed on the terminal are not echoed while the sites work (they would land in
    // the sites' lines); a prompt or question echoes them again while it waits.
    void hideTyping();

    // The first write that fails or is cut short (a full disk, a closed output, a pipe
    // whose reader has gone) is told on standard error, unless that is the stream failing
    // or the pipe's reader left, and calls `onBroken` so that the command stops; nothing
    // more is written to that stream.
    void setOnBroken(std::function<void()> onBroken) { m_onBroken = std::move(onBroken); }
    bool broken() const { return m_outBroken || m_errBroken; }
    bool pipeClosed() const { return m_pipeClosed; }
    // The last check, at exit: whatever is still buffered must get out too.
    void finish();

private:
    struct Bar;
    struct SiteLine;
    void endBar();
    bool live() const { return m_sites.size() > 1 && m_barsOnTerminal; }
    // Each line of `text` named by its site's device when there are several.
    QByteArray named(const QString &text, int site) const;
    // Text above the sites' lines: they are taken away, the text written, and drawn again.
    void tell(std::FILE *stream, const QByteArray &text);
    QByteArray siteLines() const;
    Progress siteStep(const QString &name, int site);
    void drawSiteLines();
    bool put(std::FILE *stream, const QByteArray &bytes);
    std::optional<QString> readLine();
    // `text` shown (always, or only to a person typing) and a line read after it.
    std::optional<QString> answered(const QString &text, bool always);
    void fail(std::FILE *stream, int error);
    bool m_quiet;
    bool m_json;
    QString m_lastFailure;
    bool m_barsOnTerminal;
    bool m_typed;
    bool m_outBroken = false;
    bool m_errBroken = false;
    bool m_pipeClosed = false;
    std::function<void()> m_onBroken;
    std::shared_ptr<Bar> m_bar;
    QByteArray m_input;  // read but not yet taken as a line
    bool m_inputEnded = false;
    QStringList m_sites;
    std::vector<SiteLine> m_siteLines;
    int m_linesDrawn = 0;  // the sites' lines on the terminal now, under the cursor's line
    mutable std::recursive_mutex m_lock;
};
