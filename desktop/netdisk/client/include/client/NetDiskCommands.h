// The commands of the net-disk engine thread. Each public operation of
// NetDiskClient and each result of background work becomes one command; the
// engine thread runs execute() and then release(). Results of background work
// carry the user id they were produced for and are dropped (upload steps:
// handed to processOldUploadEvent) once another user has logged in.
//
// Thread rule: a command is built on its producer's thread, handed over with
// NetDiskEngineThread::postCommand and from then on touched only by the engine
// thread. A command the engine refuses stays with its producer, who deletes it.
#pragma once

#include "client/INetDiskClientListener.h"

#include <ace/Message_Block.h>

#include <map>
#include <string>
#include <vector>

class NetDiskCommandBase {
 public:
  explicit NetDiskCommandBase(int requestNumber);
  virtual ~NetDiskCommandBase();
  virtual int execute() = 0;
  virtual void release();  // deletes the command

  // The block queued for this command; its data block's base is the command.
  ACE_Message_Block* messageBlock() { return &block_; }
  static NetDiskCommandBase* fromBlock(ACE_Message_Block* block);

  // True when an owner is set and differs from the client's current user.
  bool isOldSession() const;
  void setOwnerUserId(const std::string& userId) { ownerUserId_ = userId; }
  const std::string& ownerUserId() const { return ownerUserId_; }
  int requestNumber() const { return requestNumber_; }

 private:
  NetDiskCommandBase(const NetDiskCommandBase&);
  NetDiskCommandBase& operator=(const NetDiskCommandBase&);

  ACE_Message_Block block_;  // owns a zero-size data block that never frees its base
  std::string ownerUserId_;
  int requestNumber_;
};

class ListFileCommand : public NetDiskCommandBase {
 public:
  explicit ListFileCommand(int requestNumber) : NetDiskCommandBase(requestNumber) {}
  int execute() override;  // -1 when the listing task cannot be queued
};

class ListFileResultCommand : public NetDiskCommandBase {
 public:
  explicit ListFileResultCommand(int requestNumber)
      : NetDiskCommandBase(requestNumber), error(0), usedSpace(0), totalSpace(0) {}
  int execute() override;

  int error;  // NETDISK_OK or NETDISK_ERR_LIST_FAILED
  std::vector<NetDiskFileItem> files;
  std::map<std::string, std::string> links;
  double usedSpace;
  double totalSpace;
};

class DeleteFileCommand : public NetDiskCommandBase {
 public:
  DeleteFileCommand(int requestNumber, const std::string& path)
      : NetDiskCommandBase(requestNumber), path_(path) {}
  int execute() override;

 private:
  std::string path_;
};

class DeleteFileResultCommand : public NetDiskCommandBase {
 public:
  DeleteFileResultCommand(const std::string& path, const std::string& tag, int error)
      : NetDiskCommandBase(-1), path_(path), tag_(tag), error_(error) {}
  int execute() override;

 private:
  std::string path_;
  std::string tag_;  // the local path the deletion carried
  int error_;
};

class ListUploadFileCommand : public NetDiskCommandBase {
 public:
  explicit ListUploadFileCommand(int requestNumber) : NetDiskCommandBase(requestNumber) {}
  int execute() override;
};

class UploadFileCommand : public NetDiskCommandBase {
 public:
  UploadFileCommand(int requestNumber, const std::string& name, const std::string& localFile)
      : NetDiskCommandBase(requestNumber), name_(name), localFile_(localFile) {}
  int execute() override;

 private:
  std::string name_;
  std::string localFile_;
};

class PauseUploadFileCommand : public NetDiskCommandBase {
 public:
  PauseUploadFileCommand(int requestNumber, const std::string& relpath)
      : NetDiskCommandBase(requestNumber), relpath_(relpath) {}
  int execute() override;

 private:
  std::string relpath_;
};

class ResumeUploadFileCommand : public NetDiskCommandBase {
 public:
  ResumeUploadFileCommand(int requestNumber, const std::string& relpath)
      : NetDiskCommandBase(requestNumber), relpath_(relpath) {}
  int execute() override;

 private:
  std::string relpath_;
};

// A result of an upload step.
class UploadFileStatusCommand : public NetDiskCommandBase {
 public:
  // What the step reports.
  enum Kind {
    CREATED = 0,         // the large file was created
    BLOCK_PROGRESS = 1,  // progress of a block, or progress taken back before a resend
    BLOCK_STORED = 2,    // the block was stored
    MERGED = 3,          // the blocks were merged (or a refused merge found them merged)
    CREATE_FAILED = 4,
    BLOCK_FAILED = 5,
    MERGE_FAILED = 6     // the merge step failed, or its check found the local file changed
  };

  UploadFileStatusCommand(int requestNumber, const std::string& relpath, int kind)
      : NetDiskCommandBase(requestNumber), relpath(relpath), blockIndex(-1), delta(0), kind(kind) {}
  int execute() override;

  std::string relpath;
  std::string firstText;   // CREATED: creation date; BLOCK_STORED: the block's MD5;
                           // BLOCK_FAILED: error word
  std::string secondText;  // CREATED: download URL
  int blockIndex;
  int delta;               // transferred-bytes change
  int kind;                // Kind
  int error = 0;           // the failures: a NetDiskError (NETDISK_OK: the kind's usual one,
                           // NETDISK_ERR_CREATE_FAILED, _BLOCK_FAILED or _MERGE_FAILED)
  int ownFile = -1;  // CREATE_FAILED: what the server may still hold that the upload created
                     // (UpFileOwnFile)

 private:
  void progress();
};

class CancelAllUploadCommand : public NetDiskCommandBase {
 public:
  explicit CancelAllUploadCommand(int requestNumber) : NetDiskCommandBase(requestNumber) {}
  int execute() override;
};

class GetDownUrlCommand : public NetDiskCommandBase {
 public:
  GetDownUrlCommand(int requestNumber, const std::vector<std::string>& names)
      : NetDiskCommandBase(requestNumber), names_(names) {}
  int execute() override;

 private:
  std::vector<std::string> names_;
};

class GetDownUrlResultCommand : public NetDiskCommandBase {
 public:
  explicit GetDownUrlResultCommand(int requestNumber) : NetDiskCommandBase(requestNumber) {}
  int execute() override;

  std::map<std::string, std::string> fetched;
  std::map<std::string, std::string> known;
};

class ChangeUserInfoCommand : public NetDiskCommandBase {
 public:
  ChangeUserInfoCommand(int requestNumber, const std::string& userId, const std::string& password)
      : NetDiskCommandBase(requestNumber), userId_(userId), password_(password) {}
  int execute() override;

 private:
  std::string userId_;
  std::string password_;
};
