#pragma once

#include <filesystem>
#include <functional>

#include "foundation/Published.h"
#include "models/ModelLocator.h"
#include "platform/MachineFacts.h"
#include "requirements/CheckReport.h"

namespace velmarune {

// One complete check: the facts now, the rules file, the models installed now.
CheckReport runHardwareCheck(MachineFacts& facts, const ModelLocator& locator,
                             const std::filesystem::path& rulesFile);

// The report a window shows, and "Check Again". Main thread.
class HardwareCheckModel {
  public:
    explicit HardwareCheckModel(std::function<CheckReport()> evaluate)
        : m_evaluate(std::move(evaluate)), m_report(m_evaluate()) {}

    const Published<CheckReport>& report() const { return m_report; }
    Published<CheckReport>& report() { return m_report; }
    // Evaluates again; observers hear of it only when the report changed.
    void evaluate() { m_report.set(m_evaluate()); }

  private:
    std::function<CheckReport()> m_evaluate;
    Published<CheckReport> m_report;
};

}  // namespace velmarune
