#include "samplecontent.h"

#include "deltaformat.h"

#include <QJsonArray>
#include <QJsonObject>

namespace {

// Builds a welcome note in the written delta form: one operation per run, then a "\n" operation
// carrying the line's block attributes; heading text is bold, as the editor writes it.
class WelcomeNote
{
public:
    WelcomeNote &heading(const QString &title)
    {
        run(title, true);
        return endLine({ { QStringLiteral("header"), 1 } });
    }

    WelcomeNote &paragraph(const QString &text)
    {
        run(text, false);
        return endLine({});
    }

    WelcomeNote &labelled(const QString &label, const QString &text)
    {
        run(label, true);
        run(text, false);
        return endLine({});
    }

    WelcomeNote &label(const QString &label)
    {
        run(label, true);
        return endLine({});
    }

    WelcomeNote &checkbox(const QString &text, bool checked)
    {
        run(text, false);
        return endLine({ { QStringLiteral("list"),
            checked ? QStringLiteral("checked") : QStringLiteral("unchecked") } });
    }

    WelcomeNote &divider()
    {
        m_ops.append(QJsonObject {
            { QStringLiteral("insert"), QJsonObject { { QString(Delta::DividerKind), true } } } });
        return endLine({});
    }

    QString text() const { return Delta::toText(m_ops); }

private:
    void run(const QString &text, bool bold)
    {
        QJsonObject op { { QStringLiteral("insert"), text } };
        if (bold)
            op.insert(
                QStringLiteral("attributes"), QJsonObject { { QStringLiteral("bold"), true } });
        m_ops.append(op);
    }

    WelcomeNote &endLine(const QJsonObject &block)
    {
        QJsonObject op { { QStringLiteral("insert"), QStringLiteral("\n") } };
        if (!block.isEmpty())
            op.insert(QStringLiteral("attributes"), block);
        m_ops.append(op);
        return *this;
    }

    QJsonArray m_ops;
};

QString tripPackingList()
{
    return WelcomeNote()
        .heading(QStringLiteral("Trip Packing List"))
        .paragraph(QStringLiteral("A checklist for the next getaway. Click a box to tick it off; "
                                  "the note keeps track for you."))
        .label(QStringLiteral("Documents"))
        .checkbox(QStringLiteral("Passport or ID card"), true)
        .checkbox(QStringLiteral("Boarding passes"), true)
        .checkbox(QStringLiteral("Travel insurance details"), false)
        .label(QStringLiteral("Clothes"))
        .checkbox(QStringLiteral("Comfortable walking shoes"), true)
        .checkbox(QStringLiteral("Rain jacket"), false)
        .checkbox(QStringLiteral("Swimsuit"), false)
        .label(QStringLiteral("Toiletries"))
        .checkbox(QStringLiteral("Toothbrush and toothpaste"), false)
        .checkbox(QStringLiteral("Sunscreen"), false)
        .label(QStringLiteral("Electronics"))
        .checkbox(QStringLiteral("Phone charger"), true)
        .checkbox(QStringLiteral("Travel adapter"), false)
        .checkbox(QStringLiteral("Headphones"), false)
        .text();
}

QString gettingStarted()
{
    return WelcomeNote()
        .heading(QStringLiteral("Getting Started"))
        .paragraph(QStringLiteral("A short tour of what you will use every day."))
        .labelled(QStringLiteral("New notes."),
            QStringLiteral(
                " Press Ctrl+N to start a note, or Ctrl+Shift+N to open a new one in its "
                "own window. The first line becomes the note's title."))
        .labelled(QStringLiteral("Saving."),
            QStringLiteral(" There is no save button: every change is saved a second after you "
                           "stop typing."))
        .labelled(QStringLiteral("Search."),
            QStringLiteral(" Type in the search field above the note list to find notes by any "
                           "word they contain; F3 takes you there. Ctrl+Shift+F opens a separate "
                           "search window."))
        .labelled(QStringLiteral("Notebooks."),
            QStringLiteral(" Choose \u201cNew Notebook\u2026\u201d at the bottom of the sidebar to "
                           "make one, then drag notes onto it, or press Ctrl+M to move the open "
                           "note. Notes in no notebook stay under All Notes."))
        .labelled(QStringLiteral("Checkboxes."),
            QStringLiteral(" Ctrl+Shift+9 turns lines into checkbox items; click a box to tick "
                           "it. Open items from all your notes are gathered under To-Dos "
                           "(Ctrl+Alt+T)."))
        .labelled(QStringLiteral("Formatting."),
            QStringLiteral(" Use the toolbar above the note, Ctrl+B, Ctrl+I and Ctrl+U for bold, "
                           "italic and underline, and Ctrl+1 to Ctrl+3 for headings."))
        .labelled(QStringLiteral("Trash."),
            QStringLiteral(" Ctrl+D moves a note to the trash. It stays there until you delete it "
                           "for good, so you can bring it back from Trash in the sidebar."))
        .labelled(QStringLiteral("Snapshots."),
            QStringLiteral(" When you leave a note you have changed, a snapshot of it is kept. "
                           "Press Ctrl+S to take one yourself and Ctrl+H to look through a note's "
                           "history and restore an earlier version."))
        .divider()
        .labelled(QStringLiteral("Tip."),
            QStringLiteral(" Press Ctrl+\\ to hide the sidebars when you want nothing but the "
                           "page."))
        .text();
}

QString welcome()
{
    return WelcomeNote()
        .heading(QStringLiteral("Welcome to Brevaro Notes"))
        .paragraph(QStringLiteral("This is a quiet place for everything you want to keep: ideas, "
                                  "lists, plans and the things you would rather not forget."))
        .paragraph(
            QStringLiteral("Write first and organise later. Every note is saved as you type, "
                           "and search finds it again in a moment."))
        .paragraph(QStringLiteral("Sign in to keep your notes in sync across your devices and to "
                                  "share them with your group. Without an account, everything "
                                  "stays on this computer."))
        .paragraph(QStringLiteral("Read Getting Started for a two-minute tour, or press Ctrl+N and "
                                  "write your first note."))
        .text();
}

} // namespace

QList<SampleNoteSource> sampleNoteSources()
{
    return {
        { 0, QString::fromUtf8(R"(## Things to Remember
- Renew the car registration before **the end of the month**
- Return the library books, two are already overdue
- Pick up the dry cleaning on Thursday
- Ask Sam whether he still has the spare keys
### Later this month
- [ ] Book the dentist appointment
- [ ] Send a birthday card to Grandma
- [ ] Back up the photos from the old phone
)") },
        { 1, QString::fromUtf8(R"(## Weekly Team Sync - Project Atlas
**Attendees:** Priya, Marcus, Elena, Tom
### Updates
- The design review of the onboarding flow is done; Elena is working in the feedback
- The search API now answers in under 200 ms on the staging data
- QA found two regressions in the export screen, both fixed on the release branch
### Decisions
1. The beta moves to the 14th so QA gets a full week
2. The legacy import format is dropped from the first release
3. Marcus owns the release checklist
### Action items
- [ ] Priya: update the roadmap slide before Monday
- [ ] Tom: write the migration notes for support
- [ ] Elena: share the final onboarding mock-ups
)") },
        { 2, QString::fromUtf8(R"(## Weekly Journal - Friday Check-In
### What went well
- Finished the quarterly report a day early
- Three morning runs this week, the longest one 7 km
- Cooked at home five nights out of seven
### What was hard
- Back-to-back meetings on Wednesday left no time for deep work
- Went to bed far too late, twice
> Small steps every day add up to big changes.
### Focus for next week
1. Block two mornings for focused work
2. Lights out by eleven
3. Call Mum on Sunday
)") },
        { 8, QString::fromUtf8(R"(## Clipped Article - New Noise-Canceling Headphones Reviewed
Saved from a tech review site to read properly later.
### The short version
The new over-ear model blocks low engine rumble better than anything else tested this year, and the battery lasts a full week of commuting.
### Highlights
- **Noise canceling:** excellent on trains and planes, good in open offices
- **Battery:** about 30 hours with canceling on
- **Comfort:** light headband, but the ear cups get warm after two hours
- **Calls:** clear indoors, weaker in wind
### Worth knowing
- The companion app is needed to change the equaliser
- The hinges no longer fold, so the case is bulkier than before
**Verdict:** a strong pick for frequent travellers; wait for a sale if you mostly listen at home.
)") },
        { 14, QString::fromUtf8(R"(## Gadget Notes - Portable E-Ink Tablet
### First impressions
- 10.3-inch screen, sharp enough for PDFs and sheet music
- Writing with the stylus feels close to paper, with hardly any lag
- About 400 g, lighter than the paperback in my bag
### Pros
- Weeks of battery with daily note-taking
- No notifications, so reading stays focused
### Cons
- Page turns in large PDFs are slow
- **Handwriting search** only works in English for now
### To try
- [ ] Send web articles to the tablet
- [ ] Export handwritten notes as PDF
- [ ] Test the meeting-notes template
)") },
        { 21, QString::fromUtf8(R"(## Dinner Recipe - Sheet Pan Lemon Chicken
**Serves 4.** Prep 15 minutes, cook 35 minutes.
### Ingredients
- 8 chicken thighs, bone in and skin on
- 600 g baby potatoes, halved
- 1 red onion, cut into wedges
- 2 lemons: one juiced, one sliced
- 4 cloves of garlic, crushed
- 3 tablespoons olive oil
- 1 teaspoon dried oregano, salt and pepper
### Method
1. Heat the oven to 220 °C.
2. Toss the potatoes and onion with half the oil and spread them on a large tray.
3. Rub the chicken with the garlic, lemon juice, oregano, the rest of the oil, salt and pepper.
4. Nestle the chicken among the potatoes, skin up, and lay the lemon slices around it.
5. Roast for 35 minutes, until the skin is golden and the juices run clear.
6. Rest for 5 minutes, then spoon the pan juices over everything.
### Shopping
- [ ] Chicken thighs
- [ ] Lemons
- [ ] Fresh parsley to finish
)") },
        { 28, QString::fromUtf8(R"(## Book Draft - Chapter 4: The Cost of Convenience
### Opening
Every convenience is a trade. We hand over a little attention, a little money or a little privacy, and in return the day runs a bit more smoothly. Most of the time the trade is worth it. This chapter is about the times it is not.
### Key points
- Convenience hides its costs by spreading them out over time
- Defaults shape behaviour more than intentions do
- The easiest choice is rarely the one we would make on purpose
### Structure
1. The one-click purchase: the shoes I never wore
2. Subscriptions that outlive their usefulness
3. What we lose when we stop doing things by hand
4. Designing friction back into daily life
**Working thesis:** the goal is not less convenience but chosen convenience.
### Research to do
- [ ] Find the study on default retirement savings
- [ ] Interview two people who gave up food delivery apps
- [ ] Check the numbers on forgotten subscriptions
)") },
    };
}

QList<WelcomeNoteSource> welcomeNoteSources()
{
    return {
        { 0, tripPackingList() },
        { 100, gettingStarted() },
        { 200, welcome() },
    };
}
