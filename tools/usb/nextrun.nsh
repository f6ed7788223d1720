# The run number after %na%%nb%%nc% (its three digits), in place; %next% is
# then its folder name, or "none" after RUN999. For startup.nsh.
set d %nc%
%kit%\EFI\BOOT\digit.nsh
if not %up% == none then
  set nc %up%
else
  set nc 0
  set d %nb%
  %kit%\EFI\BOOT\digit.nsh
  if not %up% == none then
    set nb %up%
  else
    set nb 0
    set d %na%
    %kit%\EFI\BOOT\digit.nsh
    if not %up% == none then
      set na %up%
    else
      set na none
    endif
  endif
endif
set next RUN%na%%nb%%nc%
if %na% == none then
  set next none
endif
