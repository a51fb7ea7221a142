#include "CalGenCli.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <map>

#include "CliSession.h"
#include "calgen/CalGenCommands.h"
#include "calgen/ReferencePointForms.h"

namespace tavrix::cli {

namespace {

struct CalGenKind {
    const char* name;
    const char* help;
    int points;
    int (*run)(CalGenContext&);
};

const CalGenKind kKinds[] = {
    {"diode-300k", "Diode curve from one reference point near 300 K", 1, GenerateDiode300K},
    {"diode-4k", "Diode curve from one reference point near 4.2 K", 1, GenerateDiode4K},
    {"diode-2pt", "Diode curve from reference points near 77 K and 300 K", 2,
     GenerateDiodeTwoPoint},
    {"diode-3pt", "Diode curve from reference points near 4.2 K, 77 K and 300 K", 3,
     GenerateDiodeThreePoint},
    {"platinum", "Platinum curve from a low and a high reference point", 2, GeneratePlatinum},
};

struct PointText {
    std::string temperature, reading;
};

// The dialogs answered from the options. Each dialog is answered once: when the command shows
// it again (a reference point failed its test) the answer is Cancel, and the run has failed.
class CalGenCliOperator : public CliOperator {
public:
    CalGenCliOperator(const CalGenCliOptions& o, std::vector<PointText> points)
        : options_(o), points_(std::move(points)) {}

    DialogResult<std::string> AskOpenFile(const FileDialogRequest&) override {
        return DialogResult<std::string>::Accept(options_.source);
    }
    DialogResult<std::string> AskSaveFile(const FileDialogRequest&) override {
        return DialogResult<std::string>::Accept(options_.out);
    }
    DialogResult<OnePointValues> AskOnePoint(const OnePointValues& preset) override {
        OnePointForm form(preset);
        return Answer(form, {{OnePointForm::kTemperatureEdit, OnePointForm::kReadingEdit}});
    }
    DialogResult<TwoPointsValues> AskTwoPoints(const TwoPointsValues& preset) override {
        TwoPointsForm form(preset);
        return Answer(form,
                      {{TwoPointsForm::kFirstTemperatureEdit, TwoPointsForm::kFirstReadingEdit},
                       {TwoPointsForm::kSecondTemperatureEdit, TwoPointsForm::kSecondReadingEdit}});
    }
    DialogResult<ThreePointsValues> AskThreePoints(const ThreePointsValues& preset) override {
        ThreePointsForm form(preset);
        return Answer(
            form, {{ThreePointsForm::kLowTemperatureEdit, ThreePointsForm::kLowReadingEdit},
                   {ThreePointsForm::kMiddleTemperatureEdit, ThreePointsForm::kMiddleReadingEdit},
                   {ThreePointsForm::kHighTemperatureEdit, ThreePointsForm::kHighReadingEdit}});
    }

private:
    // The point options fill the edits (temperature and reading control of each row, low to
    // high) and go through the dialog's own limit tests.
    template <typename Form>
    auto Answer(Form& form, const std::vector<std::pair<int, int>>& rows)
        -> DialogResult<decltype(form.values)> {
        using Result = DialogResult<decltype(form.values)>;
        if (answered_) return Result::Cancelled();
        answered_ = true;
        std::map<int, std::string> texts;
        for (size_t i = 0; i < rows.size() && i < points_.size(); ++i) {
            texts[rows[i].first] = points_[i].temperature;
            texts[rows[i].second] = points_[i].reading;
        }
        std::string message;
        const int refused = form.Accept([&](int id) { return texts[id]; }, message);
        if (refused != 0) {
            std::fprintf(stderr, "tavrix-cli: error: --point value \"%s\": %s\n",
                         texts[refused].c_str(), message.c_str());
            return Result::Cancelled();
        }
        return Result::Accept(form.values);
    }

    const CalGenCliOptions& options_;
    std::vector<PointText> points_;
    bool answered_ = false;
};

}  // namespace

CLI::App* AddCalGenCommand(CLI::App& app, CalGenCliOptions& options) {
    auto* calgen = app.add_subcommand(
        "calgen",
        "Generate a corrected sensor curve file from a source curve and reference points");
    calgen->require_subcommand(1);
    for (const CalGenKind& k : kKinds) {
        auto* sub = calgen->add_subcommand(k.name, k.help);
        sub->add_option("--source", options.source, "The source curve (.crv)")
            ->required()
            ->check(CLI::ExistingFile);
        sub->add_option("--out", options.out, "The curve file to write (.crv)")->required();
        sub->add_option("--point", options.points,
                        "A reference point as T,READING (kelvin, then volts or ohms); " +
                            std::to_string(k.points) + " of them, lowest temperature first")
            ->required()
            ->expected(k.points)
            ->allow_extra_args(false);
        sub->callback([&options, name = std::string(k.name)] { options.command = name; });
    }
    return calgen;
}

int RunCalGen(const CalGenCliOptions& options) {
    const CalGenKind* kind = nullptr;
    for (const CalGenKind& k : kKinds)
        if (options.command == k.name) kind = &k;
    if (!kind) return 1;

    std::vector<PointText> points;
    for (const std::string& p : options.points) {
        const size_t comma = p.find(',');
        if (comma == std::string::npos) {
            std::fprintf(stderr, "tavrix-cli: error: --point \"%s\" is not T,READING\n", p.c_str());
            return 1;
        }
        points.push_back({p.substr(0, comma), p.substr(comma + 1)});
    }
    if (static_cast<int>(points.size()) != kind->points) {
        std::fprintf(stderr, "tavrix-cli: error: %s takes %d --point option(s)\n", kind->name,
                     kind->points);
        return 1;
    }

    CalGenCliOperator op(options, std::move(points));
    StdoutLog log;
    CalGenContext ctx{op, log};
    const int status = kind->run(ctx);
    if (status == kCalGenWritten) {
        std::fprintf(stderr, "tavrix-cli: curve written to %s\n", options.out.c_str());
        return 0;
    }
    std::fprintf(stderr, "tavrix-cli: no curve file written\n");
    return 1;
}

}  // namespace tavrix::cli
