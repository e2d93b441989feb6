<Profile>
<ResWidth>640</ResWidth>
<ResHeight>480</ResHeight>
<AspectRatio>0</AspectRatio>
<VideoBR>6240</VideoBR>
<AudioBR>5</AudioBR>
<FrameRate>0</FrameRate>
<CodecName>Xvid MPEG-4 Codec</CodecName>
<CodecSettings/>
</Profile>
