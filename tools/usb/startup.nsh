@echo -off
# Pellrix field kit: the UEFI Shell runs this by itself after its countdown
# (Esc skips it). One run: the comparison test in a new RUNnnn folder on the
# kit's own volume, and on any failure both chips saved and the board
# recorded beside its log. Statuses are kept as %lasterror% shows them (hex).

# The kit's volume: the one this script runs from, else the first holding
# pellrix.efi (a board's own disk may carry a copy of pellrix.efi too).
set kit none
for %i run (0 31)
  if /i %0 == fs%i:\EFI\BOOT\startup.nsh then
    set kit fs%i:
  endif
endfor
for %i run (0 31)
  if %kit% == none then
    if exist fs%i:\pellrix.efi then
      set kit fs%i:
    endif
  endif
endfor
if not exist %kit%\pellrix.efi then
  echo "Pellrix: the kit's volume (the one holding pellrix.efi) was not found."
  goto end
endif
%kit%
cd \
# (the test image loads its virtual board here)

# The next run folder follows the highest one present, so a folder is never
# reused even when earlier ones were deleted in between.
set run none
for %a in 0 1 2 3 4 5 6 7 8 9
  for %b in 0 1 2 3 4 5 6 7 8 9
    for %c in 0 1 2 3 4 5 6 7 8 9
      if exist RUN%a%b%c or %a%b%c == 000 then
        set run none
      else
        if %run% == none then
          set run RUN%a%b%c
        endif
      endif
    endfor
  endfor
endfor
if %run% == none then
  echo "Pellrix: no run folder left (RUN999 is taken); copy the RUN folders off and delete them."
  goto end
endif
mkdir %run%
if not exist %run% then
  echo "Pellrix: cannot create %run% on %kit% (write-protected or full?)."
  goto end
endif
cd %run%

echo "Pellrix: comparison test running; its console goes to %run%\PELLRIX.LOG"
echo "== pellrix.efi" >a PELLRIX.LOG
%kit%\pellrix.efi >>a PELLRIX.LOG
set compare %lasterror%
# The shell cannot show and log at once, and showing the whole log is slow on
# a serial console, so the screen gets the verdict named from the status.
set why "status not known to this kit"
if %compare% == 0x82 then
  set why "not supported"
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
if %compare% == 0x80 then
  echo "PASS comparison=0x80" >a RESULT.TXT
  echo "Pellrix: PASS (0x80), the log is in %run% on %kit%"
  goto end
endif

# Any failure: both chips and the board record, each save and the record
# logged after the comparison.
echo "Pellrix: FAIL (%compare% %why%); saving both chips and recording the board"
echo "== pellrix.efi /s 1" >>a PELLRIX.LOG
%kit%\pellrix.efi /s 1 >>a PELLRIX.LOG
set savemain %lasterror%
echo "== pellrix.efi /s 2" >>a PELLRIX.LOG
%kit%\pellrix.efi /s 2 >>a PELLRIX.LOG
set savebackup %lasterror%
echo "== pellrix-record.efi" >>a PELLRIX.LOG
%kit%\pellrix-record.efi >>a PELLRIX.LOG
set record %lasterror%
echo "FAIL comparison=%compare% save-main=%savemain% save-backup=%savebackup% record=%record%" >a RESULT.TXT
if not %savemain% == 0x80 or not %savebackup% == 0x80 or not %record% == 0x80 then
  echo "Pellrix: the evidence is incomplete, a save or the record failed: see %run%\PELLRIX.LOG"
endif
echo "Pellrix: FAIL (%compare% %why%), the evidence is in %run% on %kit%"

:end
