@echo -off
# Pellrix field kit: the UEFI Shell runs this by itself after its countdown
# (Esc skips it). One run: the comparison test, whose verdict always shows on
# screen, in a new RUNnnn folder on the kit's own volume when it can be made;
# on a failure both chips saved and the board recorded beside its log when the
# stick has room. Statuses are kept as %lasterror% shows them (hex).

echo "Pellrix: field kit starting"
# The kit's volume: the one this script runs from, else the first holding
# pellrix.efi (a board's own disk may carry a copy of pellrix.efi too). Each
# line costs milliseconds, so the usual first volume is tried alone.
set kit none
if /i %0 == fs0:\EFI\BOOT\startup.nsh then
  set kit fs0:
endif
if %kit% == none then
  for %i run (1 31)
    if /i %0 == fs%i:\EFI\BOOT\startup.nsh then
      set kit fs%i:
    endif
  endfor
endif
if %kit% == none then
  for %i run (0 31)
    if %kit% == none then
      if exist fs%i:\pellrix.efi then
        set kit fs%i:
      endif
    endif
  endfor
endif
if not exist %kit%\pellrix.efi then
  echo "Pellrix: the kit's volume (the one holding pellrix.efi) was not found."
  goto end
endif
%kit%
cd \
# (the test image loads its virtual board here)

# The next run folder follows the highest one present, so a number is never
# used twice even when earlier folders were deleted. RUNNEXT.NSH, written by
# the last run, holds its digits; it is taken when no name at or above it is
# there (three wildcard tests), else the highest folder is looked up
# (highest.nsh) and the one after it taken (nextrun.nsh). Every shell line
# costs milliseconds, so no loop runs over the names.
set na 0
set nb 0
set nc 1
if exist %kit%\RUNNEXT.NSH then
  %kit%\RUNNEXT.NSH
endif
set next RUN%na%%nb%%nc%
set above1 RUN%na%%nb%[%nc%-9]
set above2 %above1%
set above3 %above1%
set d %nb%
%kit%\EFI\BOOT\digit.nsh
if not %up% == none then
  set above2 RUN%na%[%up%-9]?
endif
set d %na%
%kit%\EFI\BOOT\digit.nsh
if not %up% == none then
  set above3 RUN[%up%-9]??
endif
if exist %above1% or exist %above2% or exist %above3% then
  %kit%\EFI\BOOT\highest.nsh
  %kit%\EFI\BOOT\nextrun.nsh
endif

# Whatever can or cannot be written, the comparison runs and its verdict
# shows; "keep" says whether a failure's evidence can be kept.
set run none
set keep no
set why "no run folder"
if %next% == none then
  echo "Pellrix: no run number left (RUN999 is taken): the verdict will show, nothing will be kept."
  echo "         Copy the RUN folders off and delete them."
else
  mkdir %next% >v shown
  if exist %next% then
    set run %next%
    # The counter for the next run, replaced whole or not at all; after
    # RUN999 there is none, and the next run finds that out.
    %kit%\EFI\BOOT\nextrun.nsh
    if %next% == none then
      if exist RUNNEXT.NSH then
        rm RUNNEXT.NSH >v shown
      endif
    else
      echo "set na %na%" >a RUNNEXT.NEW
      echo "set nb %nb%" >>a RUNNEXT.NEW
      echo "set nc %nc%" >>a RUNNEXT.NEW
      type RUNNEXT.NEW >v written
      if not "%written%" == "" then
        if exist RUNNEXT.NSH then
          rm RUNNEXT.NSH >v shown
        endif
        mv RUNNEXT.NEW RUNNEXT.NSH >v shown
      else
        rm RUNNEXT.NEW >v shown
      endif
    endif
  else
    echo "Pellrix: cannot create %next% on %kit% (write-protected or full): the verdict will show, nothing will be kept."
  endif
endif
if not %run% == none then
  cd %run%
  echo "== pellrix.efi" >a PELLRIX.LOG
  if not exist PELLRIX.LOG then
    echo "Pellrix: cannot write to %run% (write-protected or full): the verdict will show, nothing will be kept."
    cd \
    set run none
  endif
endif
if not %run% == none then
  # Before the test: a failure keeps both chips twice and the log.
  %kit%\pellrix-record.efi /room
  if %lasterror% == 0x80 then
    set keep yes
  else
    echo "(no room on the stick for the evidence: the console was shown on screen only)" >>a PELLRIX.LOG
    echo "Pellrix: the stick has no room for the evidence of a failure: the verdict will show, but a"
    echo "         failure's evidence will not be kept. Copy the RUN folders off and delete them."
  endif
endif

# The shell cannot show and log at once: with a log the screen gets a line
# before each long step and the verdict after it; without room for one the
# test's own console shows.
if %keep% == no then
  echo "Pellrix: comparison test running (reading both chips takes a minute or two)"
  %kit%\pellrix.efi
  set compare %lasterror%
else
  echo "Pellrix: comparison test running (reading both chips takes a minute or two); its console goes to %run%\PELLRIX.LOG"
  %kit%\pellrix.efi >>a PELLRIX.LOG
  set compare %lasterror%
endif

# A board without the dual-chip service refuses at start-up with 0x82, before
# any chip is read; /p, which reads no chip, is refused the same way there
# and nowhere else.
set unsupported no
if %compare% == 0x82 then
  if %keep% == no then
    %kit%\pellrix.efi /p >v shown
    set probe %lasterror%
  else
    echo "== pellrix.efi /p" >>a PELLRIX.LOG
    %kit%\pellrix.efi /p >>a PELLRIX.LOG
    set probe %lasterror%
  endif
  if %probe% == 0x82 then
    set unsupported yes
  endif
endif
set why "status not known to this kit"
if %compare% == 0x82 then
  set why "the chips could not be sized or read"
endif
if %compare% == 0x83 then
  set why "invalid command"
endif
if %compare% == 0x84 then
  set why "switch failed"
endif
if %compare% == 0x85 then
  set why "out of memory"
endif
if %compare% == 0x86 then
  set why "flash initialisation failed"
endif
if %compare% == 0x87 then
  set why "flash size check failed"
endif
if %compare% == 0x88 then
  set why "flash type check failed"
endif
if %compare% == 0x89 then
  set why "block size check failed"
endif
if %compare% == 0x8A then
  set why "BIOS size check failed"
endif
if %compare% == 0x8B then
  set why "model name check failed"
endif
if %compare% == 0x8C then
  set why "version check failed"
endif
if %compare% == 0x8D then
  set why "part number check failed"
endif
if %compare% == 0x8E then
  set why "data mismatch"
endif

if %unsupported% == yes then
  set result "UNSUPPORTED comparison=0x82"
  echo "Pellrix: this board does not support the dual-chip service (0x82): nothing to compare, save or record."
  goto result
endif
if %compare% == 0x80 then
  set result "PASS comparison=0x80"
  if %run% == none then
    echo "Pellrix: PASS (0x80); nothing was kept on the stick"
  else
    echo "Pellrix: PASS (0x80), the log is in %run% on %kit%"
  endif
  goto result
endif

# Any failure: both chips and the board record, each save and the record
# logged after the comparison, when there is room for them.
if %keep% == no then
  set result "FAIL comparison=%compare% save-main=none save-backup=none record=none"
  echo "Pellrix: FAIL (%compare% %why%); the evidence was not kept (no room or no folder on the stick)"
  goto result
endif
echo "Pellrix: FAIL (%compare% %why%); saving the Main chip"
echo "== pellrix.efi /s 1" >>a PELLRIX.LOG
%kit%\pellrix.efi /s 1 >>a PELLRIX.LOG
set savemain %lasterror%
echo "Pellrix: saving the Backup chip"
echo "== pellrix.efi /s 2" >>a PELLRIX.LOG
%kit%\pellrix.efi /s 2 >>a PELLRIX.LOG
set savebackup %lasterror%
echo "Pellrix: recording the board"
echo "== pellrix-record.efi" >>a PELLRIX.LOG
%kit%\pellrix-record.efi >>a PELLRIX.LOG
set record %lasterror%
set result "FAIL comparison=%compare% save-main=%savemain% save-backup=%savebackup% record=%record%"
if not %savemain% == 0x80 or not %savebackup% == 0x80 or not %record% == 0x80 then
  echo "Pellrix: the evidence is incomplete, a save or the record could not be kept: see %run%\PELLRIX.LOG"
endif
echo "Pellrix: FAIL (%compare% %why%), the evidence is in %run% on %kit%"

# RESULT.TXT is written whole or not at all: a new file, checked, then
# renamed into place.
:result
if %run% == none then
  goto end
endif
echo "%result%" >a RESULT.NEW
type RESULT.NEW >v written
if "%written%" == "" then
  rm RESULT.NEW >v shown
  echo "Pellrix: RESULT.TXT could not be written (the stick is full); the verdict above stands."
else
  mv RESULT.NEW RESULT.TXT >v shown
endif

:end
