#pragma once
// "Resolve IP": the addresses still without a host name, resolved up to 9 at a time,
// each row showing "*" while its lookup runs and then the name (or "-").
#include <QDialog>

#include <memory>

#include "net/host_resolver.h"
#include "store/database.h"

class QCheckBox;
class QPushButton;
class QTreeWidget;

namespace weavil {

class ResolveIpDialog : public QDialog, public ResolveObserver {
  Q_OBJECT

 public:
  // With autoStart the run starts at once and the dialog closes itself (as Cancel) when
  // it is done. resolver null: the system's reverse name service.
  explicit ResolveIpDialog(bool autoStart, QWidget* parent = nullptr, ReverseResolver* resolver = nullptr);
  ~ResolveIpDialog() override;

  QTreeWidget* List() const { return list_; }
  QCheckBox* AllUnresolvedBox() const { return allUnresolved_; }
  QPushButton* StartButton() const { return start_; }
  QPushButton* StopButton() const { return stop_; }
  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }
  // The run state (null when the database did not open).
  ResolveRun* Run() const { return run_.get(); }
  bool Running() const { return run_ && run_->IsRunning(); }
  // The row's done mark (0 pending, 1 done).
  int DoneMark(int row) const;

  // ResolveObserver, called on the run's threads.
  void RowChanged(size_t row, const std::string& url) override;
  void RunFinished(bool autoClose) override;

 public slots:
  void OnStart();
  void OnStop();
  // The window's close button and Escape: stop, and close once the running rows are done.
  void reject() override;

 signals:
  // A run has ended and the buttons are back (tests wait for it).
  void RunCompleted();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void FillList();
  void ShowRunning(bool running);
  void OnRunFinished(bool autoClose);

  QTreeWidget* list_ = nullptr;
  QCheckBox* allUnresolved_ = nullptr;
  QPushButton* start_ = nullptr;
  QPushButton* stop_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;

  // Declared before the run: the run's workers write through this session.
  DbSession session_;
  std::unique_ptr<ReverseResolver> ownResolver_;
  std::unique_ptr<ResolveRun> run_;
  bool closing_ = false;
};

}  // namespace weavil
